#include "Resources.h"

#include <cstddef>

#include "IGraphics.h"

namespace morvellan_resources
{
extern const unsigned char roboto_regular_ttf[];
extern const std::size_t roboto_regular_ttf_size;
extern const unsigned char roboto_condensed_bold_ttf[];
extern const std::size_t roboto_condensed_bold_ttf_size;
extern const unsigned char morvellan_lockup_svg[];
extern const std::size_t morvellan_lockup_svg_size;
} // namespace morvellan_resources

const iplug::igraphics::EmbeddedResources& MorvellanResources()
{
  using iplug::igraphics::EmbeddedResource;
  using namespace morvellan_resources;
  // Sizes are link-time constants, so the table is built on first use.
  static const EmbeddedResource items[] = {
    {"Roboto-Regular.ttf", roboto_regular_ttf, roboto_regular_ttf_size},
    {"RobotoCondensed-Bold.ttf", roboto_condensed_bold_ttf, roboto_condensed_bold_ttf_size},
    {"morvellan-lockup.svg", morvellan_lockup_svg, morvellan_lockup_svg_size},
  };
  static const iplug::igraphics::EmbeddedResources resources{items, sizeof(items) / sizeof(items[0])};
  return resources;
}
