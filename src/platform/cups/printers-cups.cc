// Printers through libcups: destinations, queues, page metrics, media, default options and
// jobs. Every request goes to the server named by the usual client configuration
// (CUPS_SERVER, ~/.cups/client.conf, the local scheduler).
#include <cups/cups.h>
#include <cups/ppd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <span>

#include "platform/cups/cups-internal.h"
#include "platform/cups/defaults-slot.h"
#include "platform/printers.h"

namespace vellumora::printers {

namespace {
// Resolutions beyond this are damaged data, not printers.
constexpr int64_t kMaxDpi = 100000;
}  // namespace

std::string PrinterUri(const std::string& name) {
  char uri[HTTP_MAX_URI];
  httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0,
                   "/printers/%s", name.c_str());
  return uri;
}

namespace {

struct DestList {
  cups_dest_t* dests = nullptr;
  int count = 0;
  DestList() { count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests); }
  ~DestList() { cupsFreeDests(count, dests); }
};

struct NamedDest {
  cups_dest_t* dest = nullptr;
  cups_dinfo_t* info = nullptr;
  explicit NamedDest(const std::string& name) {
    if (!name.empty()) dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, name.c_str(), nullptr);
  }
  cups_dinfo_t* Info() {
    if (!info && dest) info = cupsCopyDestInfo(CUPS_HTTP_DEFAULT, dest);
    return info;
  }
  ~NamedDest() {
    if (info) cupsFreeDestInfo(info);
    if (dest) cupsFreeDests(1, dest);
  }
};

struct IppResponse {
  ipp_t* ipp = nullptr;
  ~IppResponse() { ippDelete(ipp); }
};

ipp_t* GetPrinterAttributes(const std::string& name) {
  ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
               PrinterUri(name).c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  ipp_t* response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
  if (response && ippGetStatusCode(response) > IPP_STATUS_OK_EVENTS_COMPLETE) {
    ippDelete(response);
    return nullptr;
  }
  return response;
}

WriteResult ResultOf(ipp_status_t status) {
  if (status <= IPP_STATUS_OK_EVENTS_COMPLETE) return WriteResult::kOk;
  if (status == IPP_STATUS_ERROR_FORBIDDEN || status == IPP_STATUS_ERROR_NOT_AUTHORIZED ||
      status == IPP_STATUS_ERROR_CUPS_AUTHENTICATION_CANCELED)
    return WriteResult::kNotAuthorized;
  return WriteResult::kFailed;
}

// Sends CUPS-Add-Modify-Printer with the attributes `fill` adds to the printer group. That
// operation adds a printer that does not exist, so a printer removed since it was looked for
// is asked for first: changing its defaults must not bring back a queue without a device.
template <typename Fill>
WriteResult ModifyPrinter(const std::string& name, Fill fill) {
  if (IppResponse r{GetPrinterAttributes(name)}; !r.ipp) return WriteResult::kFailed;
  ipp_t* request = ippNewRequest(IPP_OP_CUPS_ADD_MODIFY_PRINTER);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
               PrinterUri(name).c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  fill(request);
  ippDelete(cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/admin/"));
  return ResultOf(cupsLastError());
}

// Page metrics and the printer's existence change rarely but are asked for every file: keep
// them for a moment. Our own changes of a printer's defaults forget its entry at once.
constexpr auto kCacheTime = std::chrono::seconds(2);
struct CacheEntry {
  std::chrono::steady_clock::time_point at;
  std::optional<PageMetrics> metrics;
};
std::mutex gCacheMutex;
std::map<std::string, CacheEntry> gMetricsCache;
std::map<std::string, std::chrono::steady_clock::time_point> gAnswersCache;

void Forget(const std::string& printer) {
  std::lock_guard lock(gCacheMutex);
  gMetricsCache.erase(printer);
}

// Windows paper codes and the media names they stand for.
struct PaperCode {
  int32_t code;
  const char* media;
};
constexpr PaperCode kPaperCodes[] = {
    {1, "na_letter_8.5x11in"},         {3, "na_ledger_11x17in"},
    {5, "na_legal_8.5x14in"},          {6, "na_invoice_5.5x8.5in"},
    {7, "na_executive_7.25x10.5in"},   {8, "iso_a3_297x420mm"},
    {9, "iso_a4_210x297mm"},           {11, "iso_a5_148x210mm"},
    {12, "jis_b4_257x364mm"},          {13, "jis_b5_182x257mm"},
    {14, "na_foolscap_8.5x13in"},      {16, "na_10x14_10x14in"},
    {19, "na_number-9_3.875x8.875in"}, {20, "na_number-10_4.125x9.5in"},
    {27, "iso_dl_110x220mm"},          {28, "iso_c5_162x229mm"},
    {29, "iso_c3_324x458mm"},          {30, "iso_c4_229x324mm"},
    {31, "iso_c6_114x162mm"},          {34, "iso_b5_176x250mm"},
    {37, "na_monarch_3.875x7.5in"},    {43, "jpn_hagaki_100x148mm"},
    {66, "iso_a2_420x594mm"},          {70, "iso_a6_105x148mm"},
};

// The media name the printer uses by default: a destination option (set through the server's
// defaults) wins over the driver's default. cupsGetDestMediaDefault is not used on purpose:
// it ignores the server's default and answers Letter.
std::string DefaultMedia(NamedDest& d) {
  if (const char* m = cupsGetOption("media", d.dest->num_options, d.dest->options)) return m;
  if (cups_dinfo_t* info = d.Info()) {
    if (ipp_attribute_t* a = cupsFindDestDefault(CUPS_HTTP_DEFAULT, d.dest, info, "media"))
      if (const char* m = ippGetString(a, 0, nullptr)) return m;
  }
  return "iso_a4_210x297mm";
}

// Size and margins of a media name in hundredths of a millimetre.
bool MediaSize(NamedDest& d, const std::string& media, cups_size_t* size) {
  if (cups_dinfo_t* info = d.Info())
    if (cupsGetDestMediaByName(CUPS_HTTP_DEFAULT, d.dest, info, media.c_str(),
                               CUPS_MEDIA_FLAGS_DEFAULT, size))
      return true;
  pwg_media_t* pwg = pwgMediaForPWG(media.c_str());
  if (!pwg) pwg = pwgMediaForPPD(media.c_str());
  if (!pwg) pwg = pwgMediaForLegacy(media.c_str());
  if (!pwg) return false;
  std::memset(size, 0, sizeof *size);
  std::snprintf(size->media, sizeof size->media, "%s", pwg->pwg);
  size->width = pwg->width;
  size->length = pwg->length;
  return true;
}

int32_t HundredthsMmToDots(int value, int dpi) {
  return static_cast<int32_t>(std::lround(static_cast<double>(value) * dpi / 2540.0));
}

// The settings the defaults block covers, in a fixed order. A printer's block has one slot
// for each of them that its driver supports.
constexpr std::array<const char*, 11> kBlockOptions = {"copies",        "finishings",
                                                       "media",         "media-source",
                                                       "number-up",     "orientation-requested",
                                                       "output-bin",    "print-color-mode",
                                                       "print-quality", "printer-resolution",
                                                       "sides"};
constexpr char kBlockMagic[4] = {'V', 'L', 'D', 'B'};

bool IsBlockOption(std::string_view option) {
  return std::find(kBlockOptions.begin(), kBlockOptions.end(), option) != kBlockOptions.end();
}

// The default in force as a slot records it: only a single value of a type the slot knows.
// A list of values (a finishings default of several, say) records no value, so that writing
// the block back leaves it as it is rather than keeping only its first value.
DefaultValue ValueOf(ipp_attribute_t* a) {
  DefaultValue v;
  if (!a || ippGetCount(a) != 1) return v;
  switch (ippGetValueTag(a)) {
    case IPP_TAG_INTEGER:
    case IPP_TAG_ENUM:
      v.kind = ippGetValueTag(a) == IPP_TAG_INTEGER ? DefaultValue::Kind::kInteger
                                                    : DefaultValue::Kind::kEnum;
      v.number = ippGetInteger(a, 0);
      break;
    case IPP_TAG_KEYWORD:
    case IPP_TAG_NAME:
      if (const char* text = ippGetString(a, 0, nullptr)) {
        v.kind = ippGetValueTag(a) == IPP_TAG_KEYWORD ? DefaultValue::Kind::kKeyword
                                                      : DefaultValue::Kind::kName;
        v.text = text;
      }
      break;
    case IPP_TAG_RESOLUTION: {
      ipp_res_t units;
      v.x = ippGetResolution(a, 0, &v.y, &units);
      v.perCm = units == IPP_RES_PER_CM;
      v.kind = DefaultValue::Kind::kResolution;
      break;
    }
    default:
      break;
  }
  return v;
}

}  // namespace

std::vector<std::string> Names() {
  DestList list;
  std::vector<std::string> names;
  for (int i = 0; i < list.count; ++i)
    if (!list.dests[i].instance) names.emplace_back(list.dests[i].name);
  return names;
}

std::string DefaultName() {
  DestList list;
  cups_dest_t* d = cupsGetDest(nullptr, nullptr, list.count, list.dests);
  return d ? d->name : "";
}

bool Answers(const std::string& name) {
  const auto now = std::chrono::steady_clock::now();
  {
    std::lock_guard lock(gCacheMutex);
    auto it = gAnswersCache.find(name);
    if (it != gAnswersCache.end() && now - it->second < kCacheTime) return true;
  }
  // Only a printer that answered is remembered: a new one is seen at once, a removed one
  // within the cache time.
  if (NamedDest(name).dest == nullptr) return false;
  std::lock_guard lock(gCacheMutex);
  gAnswersCache[name] = now;
  return true;
}

int32_t ActiveJobCount(const std::string& name) {
  cups_job_t* jobs = nullptr;
  int n = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, name.c_str(), 0, CUPS_WHICHJOBS_ACTIVE);
  if (n < 0) return -1;
  cupsFreeJobs(n, jobs);
  return n;
}

namespace {
std::optional<PageMetrics> MeasurePage(const std::string& name) {
  NamedDest d(name);
  if (!d.dest) return std::nullopt;
  PageMetrics m;
  // Printers without a resolution of their own (raw queues) are laid out at 300 dpi.
  m.dpiX = m.dpiY = 300;
  if (cups_dinfo_t* info = d.Info()) {
    if (ipp_attribute_t* a =
            cupsFindDestDefault(CUPS_HTTP_DEFAULT, d.dest, info, "printer-resolution")) {
      ipp_res_t units;
      int y = 0;
      int64_t x = ippGetResolution(a, 0, &y, &units);
      int64_t yy = y;
      if (units == IPP_RES_PER_CM) x = x * 254 / 100, yy = yy * 254 / 100;
      if (x > 0 && yy > 0 && x <= kMaxDpi && yy <= kMaxDpi)
        m.dpiX = static_cast<int32_t>(x), m.dpiY = static_cast<int32_t>(yy);
    }
  }
  if (const char* r = cupsGetOption("printer-resolution", d.dest->num_options, d.dest->options)) {
    // "600dpi", "600x1200dpi": the numbers read without overflow, anything odd ignored.
    const std::string_view text(r);
    int32_t x = 0, y = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), x);
    if (ec == std::errc() && end < text.data() + text.size() && *end == 'x') {
      auto [end2, ec2] = std::from_chars(end + 1, text.data() + text.size(), y);
      if (ec2 != std::errc()) y = 0;
    } else if (ec == std::errc()) {
      y = x;
    }
    if (x > 0 && y > 0 && x <= kMaxDpi && y <= kMaxDpi) m.dpiX = x, m.dpiY = y;
  }
  cups_size_t size{};
  if (!MediaSize(d, DefaultMedia(d), &size)) return std::nullopt;
  m.paperWidth = HundredthsMmToDots(size.width, m.dpiX);
  m.paperHeight = HundredthsMmToDots(size.length, m.dpiY);
  m.offsetX = HundredthsMmToDots(size.left, m.dpiX);
  m.offsetY = HundredthsMmToDots(size.top, m.dpiY);
  m.printableWidth = m.paperWidth - m.offsetX - HundredthsMmToDots(size.right, m.dpiX);
  m.printableHeight = m.paperHeight - m.offsetY - HundredthsMmToDots(size.bottom, m.dpiY);
  return m;
}
}  // namespace

std::optional<PageMetrics> ReadPageMetrics(const std::string& name) {
  const auto now = std::chrono::steady_clock::now();
  {
    std::lock_guard lock(gCacheMutex);
    auto it = gMetricsCache.find(name);
    if (it != gMetricsCache.end() && now - it->second.at < kCacheTime) return it->second.metrics;
  }
  auto metrics = MeasurePage(name);
  std::lock_guard lock(gCacheMutex);
  gMetricsCache[name] = {now, metrics};
  return metrics;
}

std::optional<std::vector<uint8_t>> ReadDefaultsBlock(const std::string& name) {
  IppResponse r{GetPrinterAttributes(name)};
  if (!r.ipp) return std::nullopt;
  std::vector<uint8_t> block(kBlockMagic, kBlockMagic + 4);
  block.resize(8);
  uint32_t count = 0;
  for (const char* option : kBlockOptions) {
    const std::string supported = std::string(option) + "-supported";
    if (!ippFindAttribute(r.ipp, supported.c_str(), IPP_TAG_ZERO)) continue;
    std::array<char, kSlotSize> slot{};
    std::snprintf(slot.data(), kSlotName, "%s", option);
    // The first value is the one in force: defaults set on the server come before the driver's.
    const std::string def = std::string(option) + "-default";
    EncodeSlotValue(ValueOf(ippFindAttribute(r.ipp, def.c_str(), IPP_TAG_ZERO)),
                    std::span<char, kSlotValue>(slot.data() + kSlotName, kSlotValue));
    block.insert(block.end(), slot.begin(), slot.end());
    ++count;
  }
  std::memcpy(block.data() + 4, &count, 4);
  return block;
}

namespace {

// A range of values is offered as a list only up to this many values.
constexpr int kMaxListedRange = 64;

std::string TokenOf(const DefaultValue& value) {
  std::array<char, kSlotValue> bytes{};
  EncodeSlotValue(value, bytes);
  return std::string(bytes.data(), strnlen(bytes.data(), bytes.size()));
}

// The value a token stands for; no value for anything a slot cannot hold.
DefaultValue ValueOfToken(const std::string& token) {
  if (token.size() > kSlotValue || token.find('\0') != std::string::npos) return {};
  std::array<char, kSlotValue> bytes{};
  std::memcpy(bytes.data(), token.data(), token.size());
  return DecodeSlotValue(bytes);
}

// Where the slot of `option` begins in a well-formed block; 0 when there is none.
std::size_t SlotOf(std::span<const uint8_t> block, const std::string& option) {
  if (block.size() < 8 || std::memcmp(block.data(), kBlockMagic, 4) != 0 ||
      (block.size() - 8) % kSlotSize != 0 || option.empty() || option.size() >= kSlotName)
    return 0;
  for (std::size_t at = 8; at + kSlotSize <= block.size(); at += kSlotSize) {
    const char* slot = reinterpret_cast<const char*>(block.data() + at);
    if (std::string_view(slot, strnlen(slot, kSlotName)) == option) return at;
  }
  return 0;
}

// The values of a -supported attribute as tokens, without repeats.
std::vector<std::string> ChoicesOf(ipp_attribute_t* a) {
  std::vector<std::string> tokens;
  const auto add = [&](const DefaultValue& v) {
    std::string token = TokenOf(v);
    if (!token.empty() && std::find(tokens.begin(), tokens.end(), token) == tokens.end())
      tokens.push_back(std::move(token));
  };
  for (int i = 0; i < ippGetCount(a); ++i) {
    DefaultValue v;
    switch (ippGetValueTag(a)) {
      case IPP_TAG_INTEGER:
      case IPP_TAG_ENUM:
        v.kind = ippGetValueTag(a) == IPP_TAG_INTEGER ? DefaultValue::Kind::kInteger
                                                      : DefaultValue::Kind::kEnum;
        v.number = ippGetInteger(a, i);
        add(v);
        break;
      case IPP_TAG_KEYWORD:
      case IPP_TAG_NAME:
        if (const char* text = ippGetString(a, i, nullptr)) {
          v.kind = ippGetValueTag(a) == IPP_TAG_KEYWORD ? DefaultValue::Kind::kKeyword
                                                        : DefaultValue::Kind::kName;
          v.text = text;
          add(v);
        }
        break;
      case IPP_TAG_RESOLUTION: {
        ipp_res_t units;
        v.x = ippGetResolution(a, i, &v.y, &units);
        v.perCm = units == IPP_RES_PER_CM;
        v.kind = DefaultValue::Kind::kResolution;
        add(v);
        break;
      }
      case IPP_TAG_RANGE: {
        int upper = 0;
        const int lower = ippGetRange(a, i, &upper);
        if (upper < lower || static_cast<int64_t>(upper) - lower >= kMaxListedRange) break;
        v.kind = DefaultValue::Kind::kInteger;
        for (int n = lower; n <= upper; ++n) {
          v.number = n;
          add(v);
        }
        break;
      }
      default:
        break;
    }
  }
  return tokens;
}

}  // namespace

std::vector<DriverSetting> DriverSettings(const std::string& name) {
  std::vector<DriverSetting> settings;
  IppResponse r{GetPrinterAttributes(name)};
  if (!r.ipp) return settings;
  for (const char* option : kBlockOptions) {
    const std::string supported = std::string(option) + "-supported";
    ipp_attribute_t* a = ippFindAttribute(r.ipp, supported.c_str(), IPP_TAG_ZERO);
    if (!a) continue;
    DriverSetting s;
    s.option = option;
    s.choices = ChoicesOf(a);
    if (s.choices.empty()) continue;
    const std::string def = std::string(option) + "-default";
    s.current = TokenOf(ValueOf(ippFindAttribute(r.ipp, def.c_str(), IPP_TAG_ZERO)));
    settings.push_back(std::move(s));
  }
  return settings;
}

std::string SettingLabel(const std::string& option, const std::string& token) {
  const DefaultValue v = ValueOfToken(token);
  switch (v.kind) {
    case DefaultValue::Kind::kInteger:
      return std::to_string(v.number);
    case DefaultValue::Kind::kEnum:
      return ippEnumString(option.c_str(), v.number);
    case DefaultValue::Kind::kKeyword:
    case DefaultValue::Kind::kName:
      if (option == "media")
        if (pwg_media_t* pwg = pwgMediaForPWG(v.text.c_str()); pwg && pwg->ppd)
          return std::string(pwg->ppd) + " (" + v.text + ")";
      return v.text;
    case DefaultValue::Kind::kResolution:
      return (v.x == v.y ? std::to_string(v.x) : std::to_string(v.x) + "x" + std::to_string(v.y)) +
             (v.perCm ? " dpcm" : " dpi");
    case DefaultValue::Kind::kNone:
      break;
  }
  return token;
}

std::string BlockSetting(std::span<const uint8_t> block, const std::string& option) {
  const std::size_t at = SlotOf(block, option);
  if (at == 0) return "";
  const char* slot = reinterpret_cast<const char*>(block.data() + at);
  return TokenOf(DecodeSlotValue(std::span<const char, kSlotValue>(slot + kSlotName, kSlotValue)));
}

bool SetBlockSetting(std::vector<uint8_t>& block, const std::string& option,
                     const std::string& token) {
  const std::size_t at = SlotOf(block, option);
  if (at == 0) return false;
  const DefaultValue v = ValueOfToken(token);
  if (!token.empty() && v.kind == DefaultValue::Kind::kNone) return false;
  std::array<char, kSlotValue> bytes{};
  EncodeSlotValue(v, bytes);
  std::memcpy(block.data() + at + kSlotName, bytes.data(), bytes.size());
  return true;
}

WriteResult WriteDefaultsBlock(const std::string& name, std::span<const uint8_t> block) {
  Forget(name);
  if (block.size() < 8 || std::memcmp(block.data(), kBlockMagic, 4) != 0 ||
      (block.size() - 8) % kSlotSize != 0)
    return WriteResult::kFailed;
  return ModifyPrinter(name, [&](ipp_t* request) {
    for (std::size_t at = 8; at + kSlotSize <= block.size(); at += kSlotSize) {
      const char* slot = reinterpret_cast<const char*>(block.data() + at);
      const std::string option(slot, strnlen(slot, kSlotName));
      // Blocks come from stored channel records: only the settings a block is made of are
      // written, never whatever other printer attribute a damaged record names.
      if (!IsBlockOption(option)) continue;
      const DefaultValue v =
          DecodeSlotValue(std::span<const char, kSlotValue>(slot + kSlotName, kSlotValue));
      const std::string attr = option + "-default";
      switch (v.kind) {
        case DefaultValue::Kind::kInteger:
        case DefaultValue::Kind::kEnum:
          ippAddInteger(request, IPP_TAG_PRINTER,
                        v.kind == DefaultValue::Kind::kInteger ? IPP_TAG_INTEGER : IPP_TAG_ENUM,
                        attr.c_str(), v.number);
          break;
        case DefaultValue::Kind::kKeyword:
        case DefaultValue::Kind::kName:
          ippAddString(request, IPP_TAG_PRINTER,
                       v.kind == DefaultValue::Kind::kKeyword ? IPP_TAG_KEYWORD : IPP_TAG_NAME,
                       attr.c_str(), nullptr, v.text.c_str());
          break;
        case DefaultValue::Kind::kResolution:
          ippAddResolution(request, IPP_TAG_PRINTER, attr.c_str(),
                           v.perCm ? IPP_RES_PER_CM : IPP_RES_PER_INCH, v.x, v.y);
          break;
        case DefaultValue::Kind::kNone:
          break;  // no value recorded: the printer's own stays
      }
    }
  });
}

std::string MediaForPaperCode(int32_t code) {
  for (const auto& p : kPaperCodes)
    if (p.code == code) return p.media;
  return "";
}

int32_t PaperCodeForMedia(std::string_view media) {
  for (const auto& p : kPaperCodes)
    if (media == p.media) return p.code;
  return 256;
}

std::vector<Paper> PaperList(const std::string& name) {
  std::vector<Paper> papers;
  IppResponse r{GetPrinterAttributes(name)};
  if (!r.ipp) return papers;
  ipp_attribute_t* supported = ippFindAttribute(r.ipp, "media-supported", IPP_TAG_ZERO);
  for (int i = 0; supported && i < ippGetCount(supported); ++i) {
    const char* media = ippGetString(supported, i, nullptr);
    if (!media) continue;
    pwg_media_t* pwg = pwgMediaForPWG(media);
    if (!pwg) continue;  // custom ranges and the like are not a paper of the list
    Paper p;
    p.media = media;
    p.name = pwg->ppd ? pwg->ppd : media;
    p.code = PaperCodeForMedia(media);
    p.widthTenthMm = pwg->width / 10;
    p.heightTenthMm = pwg->length / 10;
    papers.push_back(std::move(p));
  }
  return papers;
}

std::string DefaultMediaName(const std::string& printer) {
  NamedDest d(printer);
  return d.dest ? DefaultMedia(d) : std::string();
}

std::string CustomMedia(const std::string& printer, int32_t widthMm, int32_t heightMm) {
  NamedDest d(printer);
  // Hundredths of a millimetre, for sizes up to a kilometre: nothing a record holds overflows.
  const auto hundredths = [](int32_t mm) { return std::clamp<int32_t>(mm, 0, 1000000) * 100; };
  int width = hundredths(widthMm), length = hundredths(heightMm);
  if (d.dest && (width <= 0 || length <= 0)) {
    cups_size_t size{};
    if (MediaSize(d, DefaultMedia(d), &size)) {
      if (width <= 0) width = size.width;
      if (length <= 0) length = size.length;
    }
  }
  char name[128];
  pwgFormatSizeName(name, sizeof name, "custom", nullptr, width, length, "mm");
  return name;
}

WriteResult SetDefaultMedia(const std::string& name, const std::string& media) {
  Forget(name);
  return ModifyPrinter(name, [&](ipp_t* request) {
    ippAddString(request, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "media-default", nullptr,
                 media.c_str());
  });
}

}  // namespace vellumora::printers
