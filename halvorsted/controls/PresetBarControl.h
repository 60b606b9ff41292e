#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "IControl.h"
#include "IPopupMenu.h"

namespace halvorsted::controls
{

// The maker's preset strip: previous/next arrows, the current name (a click lists every
// preset), "Save", "Save as" with a name prompt, a two-click "Delete" and an optional menu
// button. It knows nothing of files: everything goes through its callbacks. UI thread only.
class PresetBarControl : public iplug::igraphics::IControl
{
public:
  using IRECT = iplug::igraphics::IRECT;
  using IColor = iplug::igraphics::IColor;
  using IText = iplug::igraphics::IText;

  struct Style
  {
    // 0 button fill, 1 outline, 2 text, 3 dim text, 4 hover fill, 5 warning.
    std::array<IColor, 6> colours;
    IText text;
    float scale = 1.f;
    std::string title;
    IColor background;
    IColor bottomLine;
    float paddingLeft = 0.f;
    float paddingRight = 0.f;
  };

  struct Callbacks
  {
    std::function<std::vector<std::string>()> listPresetNames;
    std::function<std::string()> currentPresetName;
    std::function<void(const std::string&)> selectPreset;
    std::function<void(const std::string&)> savePreset;
    std::function<void(const std::string&)> deletePreset;
    std::function<bool()> isModified;
  };

  using OpenMenuFunc = std::function<void(const IRECT&)>;

  // Parts, numbered as HitPart returns them.
  enum EPart
  {
    kNone = 0,
    kPrevious,
    kName,
    kNext,
    kSave,
    kSaveAs,
    kDelete,
    kMenu
  };

  PresetBarControl(const IRECT& bounds, Style style, Callbacks callbacks, OpenMenuFunc openMenu = nullptr);
  ~PresetBarControl() override;

  // The seven part rectangles, index 0 for part 1; a missing part is all zero.
  std::array<IRECT, 7> PartRects() const;
  int HitPart(float x, float y) const;
  std::vector<std::string> RefreshPresetList();

  void OnMouseDown(float x, float y, const iplug::igraphics::IMouseMod& mod) override;
  void OnMouseOver(float x, float y, const iplug::igraphics::IMouseMod& mod) override;
  void OnMouseOut() override;
  void OnPopupMenuSelection(iplug::igraphics::IPopupMenu* pSelectedMenu, int valIdx) override;
  void OnTextEntryCompletion(const char* str, int valIdx) override;
  void Draw(iplug::igraphics::IGraphics& g) override;
  // Also true when the current preset's name is not the one last drawn.
  bool IsDirty() override;

private:
  void StepPreset(int direction);
  void OpenPresetMenu();
  void PromptForName();
  std::string FitNameText(iplug::igraphics::IGraphics& g, const IText& style, const std::string& name, float width);
  void DrawButtonFrame(iplug::igraphics::IGraphics& g, const IRECT& r, bool pointsLeft, bool hovered, bool enabled);
  void DrawButtonLabel(iplug::igraphics::IGraphics& g, const IRECT& r, const char* label, bool hovered,
                       bool enabled, bool armed);
  void DrawGlyph(iplug::igraphics::IGraphics& g, const IRECT& r, bool hovered);
  std::string CurrentName() const;

  Style mStyle;
  Callbacks mCallbacks;
  OpenMenuFunc mOpenMenu;
  iplug::igraphics::IPopupMenu mMenu;
  std::vector<std::string> mMenuNames;
  std::string mPendingDelete;
  std::vector<std::string> mNames;
  bool mHasPresets = false;
  bool mLoaded = false;
  std::string mFitSource;
  std::string mFitted;
  float mFitWidth = -1.f;
  unsigned mFitMeasures = 0; // the graphics' TextMeasureGeneration it was fitted with
  int mHoveredPart = kNone;
  // The name last drawn, so a change of preset redraws even without a modified-mark change.
  std::string mShownName;
};

} // namespace halvorsted::controls
