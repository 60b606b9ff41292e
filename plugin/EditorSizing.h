#pragma once

// Window-size rules for the editor: a fixed 720 x 532 canvas scaled into a window
// that keeps the canvas aspect and stays between the minimum and the (screen-scaled)
// maximum size.

namespace morvellan::sizing {

constexpr int kCanvasWidth = 720;
constexpr int kCanvasHeight = 532;
constexpr int kMinWidth = 540;
constexpr int kMinHeight = 399;
constexpr int kMaxWidth = 1440;
constexpr int kMaxHeight = 1064;
constexpr float kAspect = float(kCanvasWidth) / float(kCanvasHeight);
constexpr float kRedrawThreshold = 0.001f;
// A stored size further than this from the canvas aspect is not trusted.
constexpr float kRestoreAspectTolerance = 0.01f;

// Replaces width and height by the nearest allowed size; true only when the request
// was in range and needed no change.
bool ConstrainEditorSize(int& width, int& height, float screenScale);

// Draw scale that fits the canvas into a window of this size.
float DrawScaleFor(int width, int height, float screenScale);

// Draw scale for a new editor window of the stored size; 1 when the size gives none.
float InitialDrawScale(int editorWidth, int editorHeight, float screenScale);

struct EditorSize
{
  int width = 0;
  int height = 0;
  friend bool operator==(const EditorSize&, const EditorSize&) = default;
};

// Size written to the state with no editor open: the window at screen scale 1.
EditorSize SavedSizeWithoutEditor(int editorWidth, int editorHeight, float screenScale);

// Size written to the state while the editor is open: canvas times draw scale, rounded.
EditorSize SavedSizeWithEditor(int canvasWidth, int canvasHeight, float drawScale);

// A stored size whose aspect is far from the canvas falls back to the canvas size;
// sizes below 1 are kept as they are (they mean "no size stored").
EditorSize SanitizeRestoredSize(int width, int height);

// Window size for a restored size at the current screen scale, one the rules keep.
EditorSize WindowSizeForRestored(EditorSize restored, float screenScale);

// The saved size a window was made from. Sizes in the state are whole pixels at screen scale
// 1, windows whole pixels at the screen's: converting back and forth can land a pixel off, so
// while the window is still the one made from it, the saved size is written back as it came.
struct KeptEditorSize
{
  EditorSize state;
  EditorSize window;
  float screenScale = 0.0f;

  // The window is still now x nowScale.
  bool Holds(EditorSize now, float nowScale) const;
};

} // namespace morvellan::sizing
