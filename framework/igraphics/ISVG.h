#pragma once

#include <memory>

namespace iplug::igraphics
{

class SvgDocument;

// A parsed SVG document, shared by copies. Invalid when loading failed.
class ISVG
{
public:
  ISVG() = default;
  explicit ISVG(std::shared_ptr<SvgDocument> doc);

  bool IsValid() const { return mDoc != nullptr; }
  // Intrinsic size in canvas units (0 when invalid).
  float W() const;
  float H() const;

  SvgDocument* Document() const { return mDoc.get(); }

private:
  std::shared_ptr<SvgDocument> mDoc;
};

} // namespace iplug::igraphics
