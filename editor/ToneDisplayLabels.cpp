#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "FixedText.h"
#include "ToneDisplayControl.h"

// Every number is written with to_chars, which unlike printf ignores the host's locale.

namespace
{

const char* const kTargetBandNames[] = {"LOW", "BODY", "PRESENCE", "AIR"};

// Appends text, keeping room for the terminator; returns the new end.
char* Append(char* out, char* last, const char* text)
{
  const size_t room = static_cast<size_t>(last - out);
  const size_t n = std::min(std::strlen(text), room);
  std::memcpy(out, text, n);
  return out + n;
}

// A value that reads as zero has no sign: -0.04 reads 0.0.
char* AppendFixed(char* out, char* last, double value, int decimals)
{
  return morvellan::WriteFixed(out, last, value, decimals);
}

char* AppendInt(char* out, char* last, long long value)
{
  const auto result = std::to_chars(out, last, value);
  return result.ec == std::errc() ? result.ptr : out;
}

// The number with "+" before it when it reads above zero, and with plusAtZero also when it
// reads as zero. Judged by the digits shown: at one decimal 0.04 is zero, not a positive gain.
char* AppendWithSign(char* out, char* last, double value, int decimals, bool plusAtZero)
{
  char number[48];
  char* end = morvellan::WriteFixed(number, number + sizeof(number) - 1, value, decimals);
  *end = '\0';
  if (morvellan::IsZeroText(number, end) ? plusAtZero : value > 0.0)
    out = Append(out, last, "+");
  return Append(out, last, number);
}

// As printf's "%+" signs a number: zero reads +0.0.
char* AppendSignedFixed(char* out, char* last, double value, int decimals)
{
  return AppendWithSign(out, last, value, decimals, true);
}

// "+" only before a positive value: zero reads 0.0.
char* AppendGain(char* out, char* last, double value)
{
  return AppendWithSign(out, last, value, 1, false);
}

} // namespace

void ToneDisplayControl::FormatFrequencyLabel(double hz, char (&buf)[16])
{
  char* last = buf + sizeof(buf) - 1;
  char* out = buf;
  if (hz >= 9950.0)
    out = Append(AppendFixed(out, last, hz / 1000.0, 0), last, "k");
  else if (hz >= 1000.0)
    out = Append(AppendFixed(out, last, hz / 1000.0, 1), last, "k");
  else
    out = AppendInt(out, last, std::isfinite(hz) ? std::llround(hz) : 0);
  *out = '\0';
}

void ToneDisplayControl::FormatGridFrequency(double hz, char (&buf)[16])
{
  char* last = buf + sizeof(buf) - 1;
  char* out = buf;
  if (hz >= 1000.0)
    out = Append(AppendInt(out, last, static_cast<long long>(hz / 1000.0)), last, "k");
  else
    out = AppendInt(out, last, static_cast<long long>(hz));
  *out = '\0';
}

void ToneDisplayControl::FormatGridGain(int db, char (&buf)[16])
{
  char* last = buf + sizeof(buf) - 1;
  char* out = buf;
  if (db > 0)
    out = Append(out, last, "+");
  out = AppendInt(out, last, db);
  *out = '\0';
}

void ToneDisplayControl::FormatBandEditorValue(int row, double value, char (&buf)[24])
{
  char* last = buf + sizeof(buf) - 1;
  char* out = buf;
  switch (row)
  {
  case 0:
    if (value >= 1000.0)
      out = Append(AppendFixed(out, last, value / 1000.0, 2), last, " kHz");
    else
      out = Append(AppendFixed(out, last, value, 0), last, " Hz");
    break;
  case 1:
    out = Append(AppendSignedFixed(out, last, value, 1), last, " dB");
    break;
  default:
    out = AppendFixed(out, last, value, 2);
    break;
  }
  *out = '\0';
}

void ToneDisplayControl::FormatTargetCaption(int band, char (&buf)[48]) const
{
  char* last = buf + sizeof(buf) - 1;
  char* out = Append(buf, last, kTargetBandNames[band & 3]);
  out = Append(out, last, "  ");
  if (TargetBandActive(band))
    out = AppendGain(out, last, ParamValue(TargetParam(band, 0)));
  else
    out = Append(out, last, TargetBandOn(band) ? "OUTSIDE" : "OFF");
  *out = '\0';
}

void ToneDisplayControl::FormatPreEqLabel(int band, char (&buf)[32]) const
{
  char* last = buf + sizeof(buf) - 1;
  char* out = buf;
  if (ParamValue(PreEqParam(band, 3)) >= 0.5)
  {
    char freq[16];
    FormatFrequencyLabel(ParamValue(PreEqParam(band, 1)), freq);
    out = Append(Append(out, last, freq), last, "  ");
    out = AppendGain(out, last, ParamValue(PreEqParam(band, 0)));
  }
  else
    out = Append(out, last, "OFF");
  *out = '\0';
}

void ToneDisplayControl::FormatEntryValue(double value, int decimals, char (&buf)[24])
{
  char* out = AppendFixed(buf, buf + sizeof(buf) - 1, value, decimals);
  *out = '\0';
}
