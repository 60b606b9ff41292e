#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "Biquad.h"
#include "IControl.h"
#include "ILayer.h"

// The plot in the middle of the window: measured levels, the correction the engine applies,
// the target shape and the pre-EQ on a 20 Hz .. 20 kHz log axis and a +-20 dB axis, with the
// handles that edit target bands, the analysis range and the pre-EQ. It pulls a Reading from
// the plug-in every frame and edits parameters only through the editor delegate.
class ToneDisplayControl : public iplug::igraphics::IControl
{
public:
  static constexpr int kNumBands = 12;
  static constexpr int kCurvePoints = 120;
  static constexpr int kNumTargetBands = 4;
  static constexpr int kNumPreEqBands = 4;

  enum EMode : std::uint8_t
  {
    kModeMatch = 0,
    kModePreEq = 1
  };

  // What the plug-in publishes for the display, copied once per frame on the UI thread.
  struct Reading
  {
    float correctionDb[kNumBands] = {}; // correction applied per band
    float levelDb[kNumBands] = {};      // measured level per band
    bool aboveThreshold = false;
    bool idle = false;
    bool bypassed = false;
    bool learning = false;
    bool hasTarget = false;
    bool analysing = false;
    float progress = 0.f; // learning progress 0..1
    std::string targetName; // UTF-8; empty for a target learned from the input
    std::string message;    // "COULD NOT LEARN: ..." after a failed analysis
    double sampleRate = 48000.;
    bool hpOn = false;
    bool lpOn = false;
    double hpHz = 20.;
    double lpHz = 20000.;

    Reading() = default;
    Reading(const Reading&) = default;
    Reading& operator=(const Reading&) = default;
    // Moving leaves the source's strings empty.
    Reading(Reading&& other) noexcept;
    Reading& operator=(Reading&& other) noexcept;
  };

  using ReadingFunc = std::function<void(Reading&)>;

  // How a status line is coloured.
  enum class StatusTone
  {
    Dim,    // mDimTextColour
    Bright, // mHandleLabelColour
    Accent,
    Error
  };

  struct StatusLine
  {
    std::string text;
    StatusTone tone = StatusTone::Dim;

    bool operator==(const StatusLine&) const = default;
  };

  ToneDisplayControl(const iplug::igraphics::IRECT& bounds, int firstTargetParam, int tiltParam, int rangeLowParam,
                     int rangeHighParam, int firstPreEqParam, int preEq1ShelfParam, int preEq4ShelfParam,
                     const iplug::igraphics::IColor& accent, const iplug::igraphics::IText& textStyle,
                     const iplug::igraphics::IText& centredTextStyle, ReadingFunc getReading);
  ~ToneDisplayControl() override;

  // IControl
  void OnMouseDown(float x, float y, const iplug::igraphics::IMouseMod& mod) override;
  void OnMouseUp(float x, float y, const iplug::igraphics::IMouseMod& mod) override;
  void OnMouseDrag(float x, float y, float dX, float dY, const iplug::igraphics::IMouseMod& mod) override;
  void OnMouseDblClick(float x, float y, const iplug::igraphics::IMouseMod& mod) override;
  void OnMouseWheel(float x, float y, const iplug::igraphics::IMouseMod& mod, float d) override;
  void OnTextEntryCompletion(const char* str, int valIdx) override;
  void Draw(iplug::igraphics::IGraphics& g) override;
  // True when anything the display shows moved since it was last drawn (the reading, the
  // parameters it reads, its mode and selection, its rectangle) or it was marked. Pulls the
  // frame's reading, which Draw then uses. Also grows the drawn rectangle over an open band
  // editor box that reaches past the plot.
  bool IsDirty() override;
  // The plot, the open band editor box wherever it lies, and in PRE-EQ mode the whole of a
  // disc that sits on the plot's edge.
  bool IsHit(float x, float y) const override;
  void OnResize() override;

  // The plot's rectangle: every mapping is relative to it, whatever the drawn rectangle is.
  const iplug::igraphics::IRECT& PlotRect() const { return mPlot; }

  // Mapping between the plot and values.
  float XOfFreq(double hz) const;
  double FreqOfX(float x) const; // clamped to 20 Hz .. 20 kHz
  float YOfGain(double db) const;
  double GainOfY(float y) const;
  float YOfLevel(double db) const;
  static double CurveFreq(int i); // 20 * 1000^(i/119)
  float CurveX(int i) const;
  // x held at least inset inside both sides of the plot; the plot's middle when it is narrower.
  float InsetX(float x, float inset) const;
  // The same for y between the top and the bottom.
  float InsetY(float y, float inset) const;

  // Drawing layers, called by Draw in this order. What lies under the measured levels (the
  // plot, its frame and the grid) and what lies over the correction curve (from the target
  // curve to the mode toggle) are kept offscreen and drawn again only when what they show
  // changes; the levels and the correction, which move while audio plays, are drawn between.
  void DrawGrid(iplug::igraphics::IGraphics& g);
  void DrawMeasuredLevels(iplug::igraphics::IGraphics& g, const Reading& reading);
  void DrawCorrectionCurve(iplug::igraphics::IGraphics& g, const Reading& reading);
  void DrawTargetCurve(iplug::igraphics::IGraphics& g);
  void DrawRangeHandles(iplug::igraphics::IGraphics& g);
  void DrawPreEqResponse(iplug::igraphics::IGraphics& g, double sampleRate, bool full);
  void DrawTargetBands(iplug::igraphics::IGraphics& g);
  void DrawPreEqBands(iplug::igraphics::IGraphics& g);
  void DrawStatusText(iplug::igraphics::IGraphics& g, const Reading& reading);
  void DrawModeToggle(iplug::igraphics::IGraphics& g);
  // The target curve up to the mode toggle: everything drawn over the correction curve.
  void DrawMarks(iplug::igraphics::IGraphics& g, const Reading& reading);
  void DrawBandEditor(iplug::igraphics::IGraphics& g);
  void DrawBandShapeIcon(iplug::igraphics::IGraphics& g, float x0, float yc, const iplug::igraphics::IColor& colour,
                         bool shelf, bool high);

  // Curves. The correction curve is cached and recomputed only when its inputs change;
  // the return value says whether it was.
  bool UpdateCorrectionCurve(const Reading& reading);
  const double* CorrectionCurveDb() const { return mCurveDb; }
  int CorrectionCurveComputations() const { return mCurveComputations; }
  // How often the offscreen layers were drawn: under the levels, the steady correction
  // curve, and over the correction.
  int GridLayerDraws() const { return mGridLayerDraws; }
  int CorrectionLayerDraws() const { return mCorrectionLayerDraws; }
  int MarksLayerDraws() const { return mMarksLayerDraws; }
  void ComputeTargetCurve(double (&out)[kCurvePoints]) const;
  // False (and out untouched) when no pre-EQ band is active.
  bool ComputePreEqResponse(double sampleRate, double (&out)[kCurvePoints]) const;
  bool PreEqBandActive(int band) const;
  morvellan::BiquadCoefficients DesignPreEqBand(int band, double sampleRate) const;

  // Reading values the display would be misled by (not-a-number, no sample rate) made harmless.
  static Reading Sanitised(Reading reading);

  // Status lines.
  static StatusLine AdaptationStatus(const Reading& reading);
  static StatusLine TargetStatus(const Reading& reading);

  // Labels.
  static void FormatFrequencyLabel(double hz, char (&buf)[16]);
  static void FormatGridFrequency(double hz, char (&buf)[16]);
  static void FormatGridGain(int db, char (&buf)[16]);
  static void FormatBandEditorValue(int row, double value, char (&buf)[24]);
  // A plain number with a fixed count of decimals, as a text entry is prefilled.
  static void FormatEntryValue(double value, int decimals, char (&buf)[24]);
  void FormatTargetCaption(int band, char (&buf)[48]) const;
  void FormatPreEqLabel(int band, char (&buf)[32]) const;

  // Marks and hit tests.
  bool TargetBandOn(int band) const;
  bool TargetBandActive(int band) const;
  // Where a band's level lies, perhaps outside the plot; its handle is that point held inside.
  void TargetPoint(int band, float& x, float& y) const;
  void TargetHandle(int band, float& x, float& y) const;
  void PreEqHandle(int band, float& x, float& y) const;
  iplug::igraphics::IRECT TargetLabelRect(int band) const;
  double RangeValue(int handle) const;
  bool RangeHandleAtEnd(int handle) const;
  iplug::igraphics::IRECT RangePillRect(int handle) const;
  iplug::igraphics::IRECT ModeToggleRect() const;
  int PosToBand(float x, float y) const;
  int HitPreEqBand(float x, float y) const;
  int TargetLabelAt(float x, float y) const;
  int HitRangeHandle(float x, float y) const;

  // The band editor box of mEditorBand; empty rectangles while it is closed.
  iplug::igraphics::IRECT BandEditorRect() const;
  iplug::igraphics::IRECT BandEditorRowRect(int row) const;
  iplug::igraphics::IRECT BandEditorValueRect(int row) const;
  iplug::igraphics::IRECT ShapeButtonRect(int button) const;
  iplug::igraphics::IRECT QSliderRect() const;
  static double QSliderPosition(double q); // 0..1 along the track
  double QFromSliderX(float x) const;

  // Interaction state.
  EMode Mode() const { return static_cast<EMode>(mMode); }
  int EditorBand() const { return mEditorBand; }
  int SelectedPreEqBand() const { return mSelectedPreEqBand; }
  int EntryParam() const { return mEntryParam; }

  // Parameter edits, each sent clamped and normalised.
  void ToggleBoolParam(int paramIdx);
  void ResetParam(int paramIdx);
  void SetPreEqQ(int band, double q);
  void OpenTextEntry(int paramIdx, const iplug::igraphics::IRECT& bounds, const char* text);

private:
  double ParamValue(int paramIdx) const;
  void BeginParam(int paramIdx);
  void EndParam(int paramIdx);
  void SendParam(int paramIdx, double plainValue);
  void SetMode(EMode mode);
  void CloseBandEditor();
  struct MarksInputs;
  struct DisplayInputs;
  void PullReading();
  void GatherMarksInputs(const Reading& reading, MarksInputs& out) const;
  void GatherInputs(const Reading& reading, DisplayInputs& out) const;
  // Invalidates the marks layer when anything it shows differs from what it was drawn from.
  void CheckMarksInputs(const MarksInputs& now);
  // The plot and the reach of antialiased edges past it: what the plot's contents are clipped to.
  iplug::igraphics::IRECT PlotClip() const;
  // In PRE-EQ mode, what the discs cover, wherever they lie; empty in MATCH mode.
  iplug::igraphics::IRECT PreEqDiscReach() const;
  // The plot clip, grown over the discs: what the marks layer holds.
  iplug::igraphics::IRECT MarksClip() const;
  void DrawCorrectionShapes(iplug::igraphics::IGraphics& g);
  // The part of the plot clip the correction curve can draw in.
  iplug::igraphics::IRECT CorrectionBounds() const;
  void SyncDrawnRect();
  iplug::igraphics::IRECT BandEditorRectFor(int band) const;
  bool HandleBandEditorPress(float x, float y);
  void DragHeldTarget(float x, float y);
  int TargetParam(int band, int field) const { return mFirstTargetParam + 3 * band + field; }
  int PreEqParam(int band, int field) const { return mFirstPreEqParam + 4 * band + field; }
  int PreEqShelfParam(int band) const;
  // The parameter a row of the band editor box shows: 0 frequency, 1 gain, 2 Q.
  int BandEditorRowParam(int row) const;

  iplug::igraphics::IColor mAccent;
  iplug::igraphics::IText mTextStyle;
  iplug::igraphics::IText mCentredTextStyle;
  ReadingFunc mGetReading;
  int mFirstTargetParam;
  int mTiltParam;
  int mRangeLowParam;
  int mRangeHighParam;
  int mDragTargetBand = -1;
  int mEntryParam = -1;
  std::string mEntryPrefill; // the open entry's text as it opened
  int mDragRangeHandle = -1;
  int mFirstPreEqParam;
  int mPreEq1ShelfParam;
  int mPreEq4ShelfParam;
  std::uint8_t mMode = kModeMatch;
  int mDragPreEqBand = -1;
  int mSelectedPreEqBand = -1;
  int mEditorBand = -1;
  int mEditorDragField = -1;
  std::uint8_t mDragStarted = 0;
  float mPressX = 0.f;
  float mPressY = 0.f;
  float mGrabOffsetX = 0.f;
  float mGrabOffsetY = 0.f;
  // A target drag that began on a dot held at the plot's edge, and the band's values then.
  bool mDragHeld = false;
  double mDragStartFreq = 0.;
  double mDragStartGain = 0.;
  float mCachedGains[kNumBands] = {};
  double mCachedSampleRate = 0.;
  double mCachedHpHz = 0.;
  double mCachedLpHz = 0.;
  double mCurveDb[kCurvePoints] = {};

  iplug::igraphics::IColor mBackgroundColour{255, 14, 14, 14};
  iplug::igraphics::IColor mFrameColour{15, 250, 250, 250};
  iplug::igraphics::IColor mGridColour{13, 250, 250, 250};
  iplug::igraphics::IColor mGridLabelColour{71, 250, 250, 250};
  iplug::igraphics::IColor mZeroLineColour{41, 250, 250, 250};
  iplug::igraphics::IColor mLevelFillColour{9, 250, 250, 250};
  iplug::igraphics::IColor mCutFillColour{41, 250, 250, 250};
  iplug::igraphics::IColor mCorrectionColour{209, 250, 250, 250};
  iplug::igraphics::IColor mTargetColour{140, 250, 250, 250};
  iplug::igraphics::IColor mBrightColour{255, 250, 250, 250};
  iplug::igraphics::IColor mDimColour{102, 250, 250, 250};
  iplug::igraphics::IColor mCaptionColour{204, 250, 250, 250};
  iplug::igraphics::IColor mIdleDotColour{56, 250, 250, 250};
  iplug::igraphics::IColor mHandleLabelColour{255, 250, 250, 250};
  iplug::igraphics::IColor mDimTextColour{107, 250, 250, 250};
  iplug::igraphics::IColor mErrorColour{255, 235, 64, 52};
  iplug::igraphics::IColor mShadeColour{140, 0, 0, 0};
  iplug::igraphics::IColor mPreEqColour{255, 240, 163, 58};
  iplug::igraphics::IColor mPreEqOverlayColour{225, 14, 14, 14};
  iplug::igraphics::IColor mPreEqLabelColour{230, 240, 205, 150};
  iplug::igraphics::IColor mEditorFillColour{250, 24, 24, 24};

  // The plot; mRECT grows past it only over an open box or a disc that reaches outside.
  iplug::igraphics::IRECT mPlot;
  int mCurveComputations = 0;
  Reading mFrameReading;

  // What the marks layer was drawn from: the parameters it reads, bit for bit, the mode, the
  // selected pre-EQ band, the sample rate of the pre-EQ curve and the status lines.
  struct MarksInputs
  {
    std::array<double, 3 * kNumTargetBands + 3 + 4 * kNumPreEqBands + 2> params{};
    std::uint8_t mode = 0;
    int selectedPreEqBand = -1;
    double sampleRate = 0.;
    StatusLine left;
    StatusLine right;
  };
  // Everything else a frame of the display is drawn from: where the levels lie (levels
  // below the scale all lie on its floor), the correction curve's inputs, the open box and
  // the rectangles.
  struct DisplayInputs
  {
    MarksInputs marks;
    std::array<float, kNumBands> levelY{};
    std::array<float, kNumBands> correctionDb{};
    double hpHz = 0.;
    double lpHz = 0.;
    int editorBand = -1;
    iplug::igraphics::IRECT rect;
    iplug::igraphics::IRECT plot;
  };
  static bool SameMarks(const MarksInputs& a, const MarksInputs& b);
  static bool SameInputs(const DisplayInputs& a, const DisplayInputs& b);
  iplug::igraphics::ILayerPtr mGridLayer;
  iplug::igraphics::ILayerPtr mCorrectionLayer;
  iplug::igraphics::ILayerPtr mMarksLayer;
  MarksInputs mMarksInputs;
  // The inputs of this frame (gathered with its reading by IsDirty) and of the last drawn one.
  DisplayInputs mFrameInputs;
  DisplayInputs mDrawnInputs;
  bool mFramePulled = false;
  bool mEverDrawn = false;
  int mGridLayerDraws = 0;
  int mCorrectionLayerDraws = 0;
  int mMarksLayerDraws = 0;
};
