#include "app/core/options_values.h"

#include <algorithm>

#include "engine/runtime/dict.h"

namespace {

constexpr std::uint16_t kSizeBits = 0x07;
constexpr std::uint16_t kAbsoluteBit = 0x08;
constexpr std::uint16_t kBoldBit = 0x10;
constexpr std::uint16_t kTableLayoutOff = 0x20;
constexpr std::uint16_t kAlignRightBit = 0x40;
constexpr std::uint16_t kAllLayoutOff = 0x80;
constexpr std::uint16_t kFullScreenBar = 0x03;
constexpr std::uint16_t kAutoscrollByLine = 0x02;  // scrollFlags bit 1

// A list index as read: the default item when the stored value is not one.
int InList(int value, int count, int fallback = 0) {
  return value >= 0 && value < count ? value : fallback;
}

}  // namespace

void Options_DisplayFromFlags(std::uint16_t f, OptionsValues* v) noexcept {
  v->sizeIndex = InList(f & kSizeBits, kOptionsTextSizes, kOptionsDefaultTextSize);
  v->sizeMode = (f & kAbsoluteBit) ? 1 : 0;
  v->bold = (f & kBoldBit) ? 1 : 0;
  v->layout = (f & kAllLayoutOff) ? 2 : ((f & kTableLayoutOff) ? 1 : 0);
  v->alignment = (f & kAlignRightBit) ? 1 : 0;
}

std::uint16_t Options_DisplayFlags(const OptionsValues& v) noexcept {
  std::uint16_t f =
      static_cast<std::uint16_t>(InList(v.sizeIndex, kOptionsTextSizes, kOptionsDefaultTextSize));
  if (v.sizeMode == 1) f |= kAbsoluteBit;
  if (v.bold != 0) f |= kBoldBit;
  if (v.layout == 1) f |= kTableLayoutOff;
  if (v.layout == 2) f |= kTableLayoutOff | kAllLayoutOff;
  if (v.alignment == 1) f |= kAlignRightBit;
  return f;
}

std::uint16_t Options_LocationFlags(const OptionsValues& v) noexcept {
  std::uint16_t f = static_cast<std::uint16_t>(InList(v.location, 3) << 4);
  if (v.fullScreenBar) f |= kFullScreenBar;
  return f;
}

OptionsDocument Options_FrameDocument(const Preferences& p) noexcept {
  OptionsDocument d;
  d.displayFlags = p.defaultDisplayFlags();
  d.locationFlags = p.defaultLocationFlags();
  d.encoding = p.defaultEncoding();
  return d;
}

void Options_CopyIn(const Preferences& p, const OptionsDocument& doc, bool noDocument,
                    OptionsValues* v) noexcept {
  Options_DisplayFromFlags(doc.displayFlags, v);
  v->location = InList((doc.locationFlags >> 4) & 3, 3);
  v->alsoDefaults = false;
  v->noDocument = noDocument;
  v->encodingFixed = doc.encodingFixed;
  v->encoding = doc.encoding;

  v->autoscrollMode = (p.scrollFlags() & kAutoscrollByLine) ? 0 : 1;
  v->fullScreenBar = (doc.locationFlags & kFullScreenBar) == kFullScreenBar;
  v->screenUp = InList(p.screenUpBehaviour(), kOptionsScreenActions);
  v->screenDown = InList(p.screenDownBehaviour(), kOptionsScreenActions);
  v->keyUp = InList(p.keyUp(), kOptionsKeyActions);
  v->keyDown = InList(p.keyDown(), kOptionsKeyActions);
  v->keyLeft = InList(p.keyLeft(), kOptionsKeyActions);
  v->keyRight = InList(p.keyRight(), kOptionsKeyActions);

  for (int i = 0; i < 4; ++i) {
    v->regionPercent[i] = p.regionPercent(i);
    v->regionAction[i] = InList(p.regionAction(i), kOptionsRegionActions);
  }
  for (int i = 0; i < 4; ++i)
    v->faces[i] = p.fontFace(i + 1);
  v->themeKey = doc.themeKey;
  v->saveMode = InList(p.saveMode(), kOptionsSaveModes);
  v->maxKB = std::min<int>(p.localSettingsLimitKB(), kOptionsMaxKB);
}

namespace {

bool StoreFaces(const OptionsValues& v, Preferences* p) {
  bool changed = false;
  for (int i = 0; i < 4; ++i) {
    if (Options_SameFace(v.faces[i], p->fontFace(i + 1))) continue;
    p->setFontFace(i + 1, v.faces[i]);
    changed = true;
  }
  return changed;
}

// Autoscroll, screen and cursor actions, regions, save mode and the size
// limit: the same for both runners.
void StoreProgramFields(const OptionsValues& v, Preferences* p) {
  std::uint16_t scroll = p->scrollFlags() & ~kAutoscrollByLine;
  if (v.autoscrollMode == 0) scroll |= kAutoscrollByLine;
  p->setScrollFlags(scroll);
  p->setScreenBehaviour(static_cast<std::uint8_t>(InList(v.screenUp, kOptionsScreenActions)),
                        static_cast<std::uint8_t>(InList(v.screenDown, kOptionsScreenActions)));
  p->setKeys(static_cast<std::uint8_t>(InList(v.keyUp, kOptionsKeyActions)),
             static_cast<std::uint8_t>(InList(v.keyDown, kOptionsKeyActions)),
             static_cast<std::uint8_t>(InList(v.keyLeft, kOptionsKeyActions)),
             static_cast<std::uint8_t>(InList(v.keyRight, kOptionsKeyActions)));
  for (int i = 0; i < 4; ++i)
    p->setRegion(i, static_cast<std::uint8_t>(std::clamp(v.regionPercent[i], 0, 100)),
                 static_cast<std::uint8_t>(InList(v.regionAction[i], kOptionsRegionActions)));
  p->setSaveMode(static_cast<std::uint8_t>(InList(v.saveMode, kOptionsSaveModes)));
  p->setLocalSettingsLimitKB(static_cast<std::uint16_t>(std::clamp(v.maxKB, 0, kOptionsMaxKB)));
}

}  // namespace

OptionsChanges Options_CopyBackToDocument(const OptionsValues& v, std::uint16_t chosenThemeKey,
                                          bool themeChanged, OptionsDocument* doc,
                                          Preferences* p) noexcept {
  OptionsChanges c;
  c.faces = StoreFaces(v, p);
  if (themeChanged) {
    doc->themeKey = chosenThemeKey;
    c.theme = true;
  }
  const std::uint16_t display = Options_DisplayFlags(v);
  c.display = display != doc->displayFlags;
  doc->displayFlags = display;
  if (v.alsoDefaults) p->setDefaultDisplayFlags(display);
  if (!doc->encodingFixed && v.encoding != 0) {
    if (v.encoding != doc->encoding) {
      doc->encoding = v.encoding;
      c.encoding = true;
    }
    if (v.alsoDefaults && v.encoding <= 0xFFFF)
      p->setDefaultEncoding(static_cast<std::uint16_t>(v.encoding));
  }
  const std::uint16_t location = static_cast<std::uint16_t>(InList(v.location, 3) << 4);
  if (v.alsoDefaults) p->setDefaultLocationFlags(location);
  doc->locationFlags = Options_LocationFlags(v);
  StoreProgramFields(v, p);
  return c;
}

OptionsChanges Options_CopyBackToPrefs(const OptionsValues& v, Preferences* p) noexcept {
  OptionsChanges c;
  c.faces = StoreFaces(v, p);
  const std::uint16_t display = Options_DisplayFlags(v);
  c.display = display != p->defaultDisplayFlags();
  p->setDefaultDisplayFlags(display);
  p->setDefaultLocationFlags(Options_LocationFlags(v));
  StoreProgramFields(v, p);
  return c;
}

int Options_StartPage(int storedPage, bool withColourPage) noexcept {
  const int last = withColourPage ? OptionsPage::kSettingsWithColour : OptionsPage::kColour;
  const int page = std::clamp(storedPage, 0, OptionsPage::kSettingsWithColour);
  if (!withColourPage && page >= OptionsPage::kColour) return last;
  return page;
}

int Options_StoredPage(int pageIndex, bool withColourPage) noexcept {
  const int last = withColourPage ? OptionsPage::kSettingsWithColour : OptionsPage::kColour;
  const int page = std::clamp(pageIndex, 0, last);
  if (!withColourPage && page == last) return OptionsPage::kSettingsWithColour;
  return page;
}

bool Options_SameFace(std::u16string_view a, std::u16string_view b) noexcept {
  return Dict_CompareNoCase(a.data(), static_cast<std::uint32_t>(a.size()), b.data(),
                            static_cast<std::uint32_t>(b.size())) == kCompareEqual;
}
