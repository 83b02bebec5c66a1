// The settings file, through SimpleIni with the semantics of profile files.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include "kernel/ini-file.h"

#include <SimpleIni.h>

#include <cstdlib>

namespace vellumora {

namespace {

// Like a profile reader's integer: leading blanks, an optional sign, then digits as far as
// they go; no digits gives 0.
int32_t ProfileInt(const char* text) {
  return static_cast<int32_t>(std::strtol(text, nullptr, 10));
}

struct Reader {
  const CSimpleIniA& ini;
  int32_t Int(const char* section, const char* key, int32_t def) const {
    const char* v = ini.GetValue(section, key, nullptr);
    return v ? ProfileInt(v) : def;
  }
  bool Bool(const char* section, const char* key, bool def) const {
    return Int(section, key, def ? 1 : 0) != 0;
  }
  std::string Text(const char* section, const char* key) const {
    const char* v = ini.GetValue(section, key, nullptr);
    return v ? v : "";
  }
};

}  // namespace

SystemSettings ParseIniSettings(std::string_view content) {
  CSimpleIniA ini;
  ini.SetUnicode(true);
  ini.SetMultiKey(false);
  ini.LoadData(content.data(), content.size());
  const Reader r{ini};
  const SystemSettings d;
  SystemSettings s;
  s.DefaultFileFolder = r.Text("System", "DefaultFileFolder");
  s.DebugMode = r.Bool("System", "DebugMode", d.DebugMode);
  s.StartUpCheck = r.Bool("System", "StartUpCheck", d.StartUpCheck);
  s.UsePDFThread = r.Bool("System", "UsePDFThread", d.UsePDFThread);
  s.NoWindowsGDI = r.Bool("System", "NoWindowsGDI", d.NoWindowsGDI);
  s.MaxCPUload = r.Int("System", "MaxCPUload", d.MaxCPUload);
  s.DelFailedJobs = r.Bool("Operation", "DelFailedJobs", d.DelFailedJobs);
  s.MaxLogSize = r.Int("Operation", "MaxLogSize", d.MaxLogSize);
  s.LogDate = r.Bool("Operation", "LogDate", d.LogDate);
  s.LogTime = r.Bool("Operation", "LogTime", d.LogTime);
  s.LogFilename = r.Bool("Operation", "LogFilename", d.LogFilename);
  s.LogPrinter = r.Bool("Operation", "LogPrinter", d.LogPrinter);
  s.NoRawFilePrinting = r.Bool("Operation", "NoRawFilePrinting", d.NoRawFilePrinting);
  s.SortByDate = r.Bool("Operation", "SortByDate", d.SortByDate);
  s.StartMinimized = r.Bool("Application", "StartMinimized", d.StartMinimized);
  s.WindowXPos = r.Int("Application", "WindowXPos", d.WindowXPos);
  s.WindowYPos = r.Int("Application", "WindowYPos", d.WindowYPos);
  s.WindowWidth = r.Int("Application", "WindowWidth", d.WindowWidth);
  s.WindowHeight = r.Int("Application", "WindowHeight", d.WindowHeight);
  s.MainPanelWidth = r.Int("Application", "MainPanelWidth", d.MainPanelWidth);
  s.AlwaysPrint = r.Bool("Application", "AlwaysPrint", d.AlwaysPrint);
  s.PortA = r.Int("Snapquill", "PortA", d.PortA);
  s.Active = r.Bool("Snapquill", "Active", d.Active);
  return s;
}

std::string IniSettingsBytes(std::string_view existing, const SystemSettings& s,
                             const std::string& appDir, const std::string& dataDir) {
  CSimpleIniA ini;
  ini.SetUnicode(true);
  ini.SetMultiKey(false);
  ini.SetSpaces(false);
  ini.LoadData(existing.data(), existing.size());
  auto text = [&](const char* section, const char* key, const std::string& v) {
    ini.SetValue(section, key, v.c_str());
  };
  auto num = [&](const char* section, const char* key, int32_t v) {
    ini.SetValue(section, key, std::to_string(v).c_str());
  };
  auto flag = [&](const char* section, const char* key, bool v) { num(section, key, v ? 1 : 0); };
  text("System", "AppDirectory", appDir);
  text("System", "AppDataDirectory", dataDir);
  text("System", "DefaultFileFolder", s.DefaultFileFolder);
  flag("System", "DebugMode", s.DebugMode);
  flag("System", "StartUpCheck", s.StartUpCheck);
  flag("System", "UsePDFThread", s.UsePDFThread);
  flag("System", "NoWindowsGDI", s.NoWindowsGDI);
  num("System", "MaxCPUload", s.MaxCPUload);
  num("Operation", "MaxLogSize", s.MaxLogSize);
  flag("Operation", "LogDate", s.LogDate);
  flag("Operation", "LogTime", s.LogTime);
  flag("Operation", "LogFilename", s.LogFilename);
  flag("Operation", "LogPrinter", s.LogPrinter);
  flag("Operation", "NoRawFilePrinting", s.NoRawFilePrinting);
  flag("Operation", "SortByDate", s.SortByDate);
  flag("Application", "StartMinimized", s.StartMinimized);
  num("Application", "WindowXPos", s.WindowXPos);
  num("Application", "WindowYPos", s.WindowYPos);
  num("Application", "WindowWidth", s.WindowWidth);
  num("Application", "WindowHeight", s.WindowHeight);
  num("Application", "MainPanelWidth", s.MainPanelWidth);
  flag("Application", "AlwaysPrint", s.AlwaysPrint);
  num("Snapquill", "PortA", s.PortA);
  flag("Snapquill", "Active", s.Active);
  std::string out;
  ini.Save(out);
  // Profile files on this system use CR LF line ends.
  std::string crlf;
  crlf.reserve(out.size() + out.size() / 16);
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '\n' && (i == 0 || out[i - 1] != '\r')) crlf.push_back('\r');
    crlf.push_back(out[i]);
  }
  return crlf;
}

}  // namespace vellumora
