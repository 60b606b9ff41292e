#include "FontStore.h"

#include "FallbackFonts.h"
#include "SharedThread.h"
#include "Vst3Strings.h"

#include <cairo-ft.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace iplug::igraphics
{

struct LoadedFont
{
  std::vector<unsigned char> bytes; // FreeType reads an embedded face from here for its whole life
  FT_Face ftFace = nullptr;
  cairo_font_face_t* face = nullptr;
  FcCharSet* coverage = nullptr; // every character the face maps to a glyph of its own
  bool printableAscii = false;   // coverage holds all of U+0020 to U+007E
  bool bold = false;

  bool Covers(std::uint32_t cp) const { return FcCharSetHasChar(coverage, cp); }
};

namespace
{

using CodeRange = std::uint32_t[2];

// Unicode's default-ignorable code points: format controls and selectors that draw nothing.
constexpr CodeRange kIgnorable[] = {
  {0x00AD, 0x00AD}, {0x034F, 0x034F}, {0x061C, 0x061C}, {0x115F, 0x1160},   {0x17B4, 0x17B5},   {0x180B, 0x180F},
  {0x200B, 0x200F}, {0x202A, 0x202E}, {0x2060, 0x206F}, {0x3164, 0x3164},   {0xFE00, 0xFE0F},   {0xFEFF, 0xFEFF},
  {0xFFA0, 0xFFA0}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0000, 0xE0FFF}};

// The general combining marks, which belong with the character before them.
constexpr CodeRange kCombining[] = {
  {0x0300, 0x036F}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x20D0, 0x20FF}, {0xFE20, 0xFE2F}};

template <std::size_t N>
bool InRanges(std::uint32_t cp, const CodeRange (&ranges)[N])
{
  for (const auto& r : ranges)
    if (cp >= r[0] && cp <= r[1])
      return true;
  return false;
}

// The characters of the face's Unicode map, read before cairo shares the face.
FcCharSet* CmapCoverage(FT_Face face)
{
  FcCharSet* set = FcCharSetCreate();
  if (!set)
    return nullptr;
  FT_UInt glyph = 0;
  for (FT_ULong cp = FT_Get_First_Char(face, &glyph); glyph != 0; cp = FT_Get_Next_Char(face, cp, &glyph))
    FcCharSetAddChar(set, static_cast<FcChar32>(cp));
  return set;
}

// Hands an opened FreeType face to cairo; false (and the face closed) when it is of no use.
bool WrapFace(LoadedFont& font)
{
  if (!FT_IS_SCALABLE(font.ftFace))
  {
    FT_Done_Face(font.ftFace);
    return false;
  }
  font.coverage = CmapCoverage(font.ftFace);
  font.printableAscii = font.coverage != nullptr;
  for (FcChar32 cp = 0x20; cp < 0x7F && font.printableAscii; ++cp)
    font.printableAscii = FcCharSetHasChar(font.coverage, cp);
  font.bold = (font.ftFace->style_flags & FT_STYLE_FLAG_BOLD) != 0;
  // Unhinted outlines keep advances proportional to the size, so text measures the
  // same at every draw scale.
  font.face = cairo_ft_font_face_create_for_ft_face(font.ftFace, FT_LOAD_NO_HINTING);
  if (!font.coverage || cairo_font_face_status(font.face) != CAIRO_STATUS_SUCCESS)
  {
    cairo_font_face_destroy(font.face);
    if (font.coverage)
      FcCharSetDestroy(font.coverage);
    FT_Done_Face(font.ftFace);
    return false;
  }
  return true;
}

class FallbackFonts;
FallbackFonts& Fallback();

// System fonts for the characters our own faces lack, chosen through fontconfig: its fonts
// in order of closeness to a sans-serif of the text's weight, the first that has the
// character winning. Starting fontconfig and sorting its fonts can take seconds on a machine
// with many fonts, and opening a font file is a file read, so all of it happens on a worker:
// the UI thread only asks, and a character whose choice is not made yet draws with a stand-in
// until the worker publishes it. Each choice is kept, so a character is looked up once.
// Process-wide, never released (see FontRegistry).
class FallbackFonts
{
public:
  struct Choice
  {
    const LoadedFont* font = nullptr; // null: no system font (or no stand-in) has it
    bool ready = false;               // false: a stand-in until the worker has chosen
  };

  // The worker starts with the first font loaded and scans right away, so that the first
  // character needing a system font seldom finds the scan still running.
  void WarmUp()
  {
    std::lock_guard<std::mutex> lock(mMutex);
    StartWorker();
  }

  // The choice for cp in text of a bold or a regular face. Until it is made the character
  // is queued for the worker and the stand-in is the first system face already open that
  // has it. Never waits for the worker.
  Choice For(std::uint32_t cp, bool bold)
  {
    const std::uint32_t key = cp | (bold ? kBoldKey : 0u);
    std::lock_guard<std::mutex> lock(mMutex);
    if (const auto it = mChosen.find(key); it != mChosen.end())
      return Choice{it->second, true};
    if (mPending.insert(key).second)
    {
      mQueue.push_back(key);
      StartWorker();
      mWake.notify_all();
    }
    for (const LoadedFont* open : mOpenFaces)
      if (open->Covers(cp))
        return Choice{open, false};
    return Choice{};
  }

  unsigned Generation() const { return mGeneration.load(std::memory_order_acquire); }

  bool WaitUntilSettled(std::chrono::milliseconds timeout)
  {
    std::unique_lock<std::mutex> lock(mMutex);
    return mSettled.wait_for(lock, timeout, [this] { return mPending.empty(); });
  }

  void Hold(bool hold)
  {
    std::lock_guard<std::mutex> lock(mMutex);
    mHeld = hold;
    mWake.notify_all();
  }

  // At the module's exit: the worker ends (after the scan or choice under way) and is joined.
  void Shutdown()
  {
    std::thread last;
    {
      std::lock_guard<std::mutex> lock(mMutex);
      last = mThread.End(mWake);
    }
    SharedThread::Join(last);
  }

private:
  static constexpr std::uint32_t kBoldKey = 1u << 31;

  // Under mMutex. Without a thread the queued characters keep their stand-ins.
  void StartWorker()
  {
    if (mThread.Start([this](std::uint64_t generation) { Work(generation); }) && !mExitHookAdded)
    {
      AddModuleExitHook([] { Fallback().Shutdown(); });
      mExitHookAdded = true;
    }
  }

  void Work(std::uint64_t generation)
  {
    std::unique_lock<std::mutex> lock(mMutex);
    for (;;)
    {
      mWake.wait(lock, [&] { return mThread.Ended(generation) || (!mHeld && (!mPrepared || !mQueue.empty())); });
      if (mThread.Ended(generation))
        return;
      if (!mPrepared)
      {
        lock.unlock();
        Prepare();
        lock.lock();
        continue;
      }
      const std::uint32_t key = mQueue.front();
      mQueue.pop_front();
      lock.unlock();
      const LoadedFont* chosen = Choose(key & ~kBoldKey, (key & kBoldKey) != 0);
      lock.lock();
      mChosen.emplace(key, chosen);
      if (chosen && std::find(mOpenFaces.begin(), mOpenFaces.end(), chosen) == mOpenFaces.end())
        mOpenFaces.push_back(chosen);
      mPending.erase(key);
      mGeneration.fetch_add(1, std::memory_order_release);
      mSettled.notify_all();
    }
  }

  // The rest is the worker's own: only one worker runs at a time, and a new one starts after
  // the old one was joined.

  void Prepare()
  {
    mPrepared = true;
    if (FT_Init_FreeType(&mLibrary) != 0)
    {
      mLibrary = nullptr;
      return;
    }
    if (!FcInit())
      return;
    for (int bold = 0; bold < 2; ++bold)
    {
      FcPattern* pattern = FcPatternCreate();
      if (!pattern)
        continue;
      FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>("sans-serif"));
      FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
      FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
      FcDefaultSubstitute(pattern);
      FcResult result = FcResultNoMatch;
      mSorted[bold] = FcFontSort(nullptr, pattern, FcFalse, nullptr, &result);
      FcPatternDestroy(pattern);
    }
  }

  const LoadedFont* Choose(std::uint32_t cp, bool bold)
  {
    if (const FcFontSet* fonts = mSorted[bold ? 1 : 0])
      for (int i = 0; i < fonts->nfont; ++i)
      {
        FcCharSet* has = nullptr;
        if (FcPatternGetCharSet(fonts->fonts[i], FC_CHARSET, 0, &has) == FcResultMatch && FcCharSetHasChar(has, cp))
          if (const LoadedFont* font = Open(fonts->fonts[i]); font && font->Covers(cp))
            return font;
      }
    return nullptr;
  }

  // The face of one font file, opened once; null when FreeType or cairo cannot use it.
  const LoadedFont* Open(FcPattern* pattern)
  {
    FcChar8* file = nullptr;
    int index = 0;
    if (!mLibrary || FcPatternGetString(pattern, FC_FILE, 0, &file) != FcResultMatch)
      return nullptr;
    FcPatternGetInteger(pattern, FC_INDEX, 0, &index);
    auto [it, fresh] = mOpened.try_emplace(std::string(reinterpret_cast<const char*>(file)) + '\n' + std::to_string(index));
    if (fresh)
    {
      auto font = std::make_unique<LoadedFont>();
      if (FT_New_Face(mLibrary, reinterpret_cast<const char*>(file), index, &font->ftFace) == 0 && WrapFace(*font))
        it->second = std::move(font);
    }
    return it->second.get();
  }

  // Shared with the UI thread, under mMutex.
  std::mutex mMutex;
  std::condition_variable mWake;    // work queued, a hold lifted, the worker's end
  std::condition_variable mSettled; // a choice published
  SharedThread mThread;
  bool mExitHookAdded = false;
  bool mHeld = false;
  std::deque<std::uint32_t> mQueue;
  std::unordered_set<std::uint32_t> mPending; // queued or being chosen
  std::unordered_map<std::uint32_t, const LoadedFont*> mChosen;
  std::vector<const LoadedFont*> mOpenFaces; // the system faces chosen so far: stand-ins
  std::atomic<unsigned> mGeneration{0};

  // The worker's.
  bool mPrepared = false;
  FT_Library mLibrary = nullptr;
  FcFontSet* mSorted[2] = {nullptr, nullptr};
  std::unordered_map<std::string, std::unique_ptr<LoadedFont>> mOpened; // by file and face index
};

FallbackFonts& Fallback()
{
  // Deliberately never destroyed (see FontRegistry).
  static FallbackFonts* fallback = new FallbackFonts;
  return *fallback;
}

// Faces are shared by every graphics context of the process and never released. An
// FT_Face must outlive its cairo face, and cairo keeps faces in its caches after their
// last user lets go; only a destroy callback would tell when it finally drops one, and
// cairo might run it after the host has unloaded this module. Identical files (every
// editor loads the same two fonts) share one face, so this stays at a handful.
struct FontRegistry
{
  std::mutex mutex;
  FT_Library library = nullptr;
  bool libraryFailed = false;
  std::vector<std::unique_ptr<LoadedFont>> fonts;
  cairo_font_face_t* systemFace = nullptr;

  const LoadedFont* Find(const unsigned char* data, std::size_t size) const
  {
    for (const auto& f : fonts)
      if (f->bytes.size() == size && std::memcmp(f->bytes.data(), data, size) == 0)
        return f.get();
    return nullptr;
  }

  const LoadedFont* Load(const unsigned char* data, std::size_t size)
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (const LoadedFont* known = Find(data, size))
      return known;
    if (!library && !libraryFailed)
      libraryFailed = FT_Init_FreeType(&library) != 0;
    if (!library)
      return nullptr;

    auto font = std::make_unique<LoadedFont>();
    font->bytes.assign(data, data + size);
    if (FT_New_Memory_Face(library, font->bytes.data(), static_cast<FT_Long>(size), 0, &font->ftFace) != 0 ||
        !WrapFace(*font))
      return nullptr;
    fonts.push_back(std::move(font));
    return fonts.back().get();
  }

  // Made on first need only: resolving it starts fontconfig, which can take a while.
  cairo_font_face_t* SystemFace()
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (!systemFace)
      systemFace = cairo_toy_font_face_create("sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    return systemFace;
  }
};

FontRegistry& Registry()
{
  // Deliberately never destroyed (see FontRegistry).
  static FontRegistry* registry = new FontRegistry;
  return *registry;
}

} // namespace

FontStore::FontStore() = default;
FontStore::~FontStore() = default;

bool FontStore::Load(const std::string& fontID, const unsigned char* data, std::size_t size)
{
  if (!data || size == 0)
    return false;
  const LoadedFont* font = Registry().Load(data, size);
  if (!font)
    return false;
  mFonts[fontID] = font;
  if (!mFirstLoaded)
    mFirstLoaded = font;
  Fallback().WarmUp();
  return true;
}

const LoadedFont* FontStore::Font(const std::string& fontID) const
{
  if (const auto it = mFonts.find(fontID); it != mFonts.end())
    return it->second;
  return mFirstLoaded;
}

cairo_font_face_t* FontStore::Face(const std::string& fontID) const
{
  const LoadedFont* font = Font(fontID);
  return font ? font->face : Registry().SystemFace();
}

bool FontStore::Runs(const std::string& fontID, const char* utf8, std::vector<FontRun>& runs) const
{
  runs.clear();
  const std::size_t length = utf8 ? std::strlen(utf8) : 0;
  const LoadedFont* own = Font(fontID);
  if (!own)
  {
    if (length > 0)
      runs.push_back(FontRun{Registry().SystemFace(), 0, length});
    return true;
  }
  const auto* s = reinterpret_cast<const unsigned char*>(utf8);
  // Most text is printable ASCII, which our faces have: one run, nothing to look up.
  if (own->printableAscii && std::all_of(s, s + length, [](unsigned char c) { return c >= 0x20 && c < 0x7F; }))
  {
    if (length > 0)
      runs.push_back(FontRun{own->face, 0, length});
    return true;
  }
  bool ready = true;
  const LoadedFont* current = nullptr; // the face of the open run, if any
  for (std::size_t i = 0; i < length;)
  {
    const std::size_t begin = i;
    char32_t cp = 0;
    i += DecodeUtf8(s + i, length - i, cp);
    const LoadedFont* font = own;
    if (current && InRanges(cp, kCombining) && current->Covers(cp))
      font = current;
    else if (!own->Covers(cp))
    {
      if (InRanges(cp, kIgnorable))
      {
        current = nullptr;
        continue;
      }
      const FallbackFonts::Choice system = Fallback().For(cp, own->bold);
      ready = ready && system.ready;
      if (system.font)
        font = system.font;
    }
    if (font == current)
      runs.back().end = i;
    else
      runs.push_back(FontRun{font->face, begin, i});
    current = font;
  }
  return ready;
}

unsigned FallbackFontsGeneration()
{
  return Fallback().Generation();
}

bool WaitForFallbackFonts(std::chrono::milliseconds timeout)
{
  return Fallback().WaitUntilSettled(timeout);
}

void HoldFallbackFontWorker(bool hold)
{
  Fallback().Hold(hold);
}

} // namespace iplug::igraphics
