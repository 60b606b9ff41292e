#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "WDL_String.h"

namespace iplug
{

// One host-visible parameter: an atomically stored plain value with its range,
// default, step, label, shape, flags and display texts. Declared once by one of
// the Init calls, read from any thread afterwards.
class IParam
{
public:
  enum EParamType
  {
    kTypeNone,
    kTypeBool,
    kTypeInt,
    kTypeEnum,
    kTypeDouble
  };

  enum EParamUnit
  {
    kUnitPercentage,
    kUnitSeconds,
    kUnitMilliseconds,
    kUnitSamples,
    kUnitDB,
    kUnitLinearGain,
    kUnitPan,
    kUnitPhase,
    kUnitDegrees,
    kUnitMeters,
    kUnitRate,
    kUnitRatio,
    kUnitFrequency,
    kUnitOctaves,
    kUnitCents,
    kUnitAbsCents,
    kUnitSemitones,
    kUnitMIDINote,
    kUnitMIDICtrlNum,
    kUnitBPM,
    kUnitBeats,
    kUnitCustom
  };

  enum EFlags
  {
    kFlagsNone = 0,
    kFlagCannotAutomate = 0x1, // the host may not record or play automation for it
    kFlagStepped = 0x2,        // values snap to the step
    kFlagNegateDisplay = 0x4,
    kFlagSignDisplay = 0x8,
    kFlagMeta = 0x10
  };

  // How the normalised 0..1 range maps onto min..max. The shapes carry no data of
  // their own, so they are plain tags copied into the parameter.
  struct Shape
  {
    enum EKind
    {
      kLinear,
      kExp
    };
    EKind kind = kLinear;
  };

  struct ShapeLinear : Shape
  {
    ShapeLinear() { kind = kLinear; }
  };

  // Equal ratios per equal normalised distance; needs min > 0 (falls back to linear otherwise).
  struct ShapeExp : Shape
  {
    ShapeExp() { kind = kExp; }
  };

  IParam() = default;
  IParam(const IParam&) = delete;
  IParam& operator=(const IParam&) = delete;

  void InitDouble(const char* name, double defaultVal, double minVal, double maxVal, double step,
                  const char* label = "", int flags = 0, const char* group = "",
                  const Shape& shape = ShapeLinear(), EParamUnit unit = kUnitCustom);

  void InitFrequency(const char* name, double defaultVal = 1000., double minVal = 0.1,
                     double maxVal = 10000., double step = 0.1, int flags = 0, const char* group = "");

  // A stepped two-value parameter showing offText at 0 and onText at 1.
  void InitBool(const char* name, bool defaultVal, const char* label = "", int flags = 0,
                const char* group = "", const char* offText = "off", const char* onText = "on");

  // Plain value access; every store goes through Constrain.
  double Value() const { return mValue.load(std::memory_order_relaxed); }
  bool Bool() const { return Value() >= 0.5; }
  int Int() const { return static_cast<int>(Value()); }
  void Set(double value) { Store(Constrain(value)); }
  void SetNormalized(double normalized) { Set(FromNormalized(normalized)); }
  void SetToDefault() { Store(mDefault); }
  // A count shared by a set of parameters, raised after every store that changes a value, so a
  // reader can tell whether any of them moved without reading them all. Null counts nothing.
  void SetChangeCounter(std::atomic<uint32_t>* counter) { mChangeCounter = counter; }
  double GetNormalized() const { return ToNormalized(Value()); }

  // Clamps to min..max and snaps stepped parameters to the step. A value that is
  // not a finite number gives the default, so NaN or an infinity never becomes a value.
  double Constrain(double value) const;

  // Plain <-> normalised through the shape. Inputs outside the ranges are clamped;
  // FromNormalized also constrains its result.
  double ToNormalized(double value) const;
  double FromNormalized(double normalized) const;

  double GetDefault(bool normalized = false) const { return normalized ? ToNormalized(mDefault) : mDefault; }
  double GetMin() const { return mMin; }
  double GetMax() const { return mMax; }
  double GetRange() const { return mMax - mMin; }
  double GetStep() const { return mStep; }
  int GetDisplayPrecision() const { return mDisplayPrecision; }
  EParamType Type() const { return mType; }
  EParamUnit Unit() const { return mUnit; }
  Shape::EKind GetShapeKind() const { return mShape.kind; }
  int GetFlags() const { return mFlags; }
  bool GetCanAutomate() const { return !(mFlags & kFlagCannotAutomate); }
  bool GetStepped() const { return (mFlags & kFlagStepped) != 0; }
  bool GetMeta() const { return (mFlags & kFlagMeta) != 0; }

  // Number of discrete steps for a host (0 for a continuous parameter).
  int GetNumSteps() const;

  const char* GetName() const { return mName.c_str(); }
  const char* GetLabel() const { return mLabel.c_str(); }
  const char* GetGroup() const { return mGroup.c_str(); }

  int NDisplayTexts() const { return static_cast<int>(mDisplayTexts.size()); }
  void SetDisplayText(double value, const char* text);
  // The display text registered for value, or nullptr.
  const char* GetDisplayText(double value) const;

  // Value -> text: the display text when one matches (and withDisplayText), else the
  // number with as many decimals as the step needs. No label is appended.
  void GetDisplay(double value, bool normalized, WDL_String& display, bool withDisplayText = true) const;
  void GetDisplay(WDL_String& display, bool withDisplayText = true) const
  {
    GetDisplay(Value(), false, display, withDisplayText);
  }
  // Text -> plain value: a display text gives its value, otherwise the leading number.
  // Returns false (and leaves value alone) when the text holds neither.
  bool StringToValue(const char* text, double& value) const;

private:
  void Init(EParamType type, const char* name, double defaultVal, double minVal, double maxVal, double step,
            const char* label, int flags, const char* group, const Shape& shape, EParamUnit unit);

  struct DisplayText
  {
    double value;
    std::string text;
  };

  void Store(double value)
  {
    if (mValue.exchange(value, std::memory_order_relaxed) != value && mChangeCounter)
      mChangeCounter->fetch_add(1, std::memory_order_release);
  }

  std::atomic<double> mValue{0.};
  std::atomic<uint32_t>* mChangeCounter = nullptr;
  EParamType mType = kTypeNone;
  EParamUnit mUnit = kUnitCustom;
  Shape mShape;
  double mDefault = 0.;
  double mMin = 0.;
  double mMax = 1.;
  double mStep = 1.;
  int mDisplayPrecision = 0;
  int mFlags = 0;
  std::string mName;
  std::string mLabel;
  std::string mGroup;
  std::vector<DisplayText> mDisplayTexts;
};

} // namespace iplug
