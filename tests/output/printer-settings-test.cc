// The printer layer against a real print server: queues, page metrics, the driver defaults
// block and its application per channel, paper, documents and the access test.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string_view>

#include "kernel/kernel.h"
#include "kernel/text-fields.h"
#include "output/outputs-fixture.h"
#include "output/outputs.h"
#include "output/picture-files.h"
#include "platform/printers.h"
#include "platform/system-info.h"
#include "support/cups-sandbox.h"
#include "support/sandbox-dir.h"

namespace vellumora {
namespace {

using test::CupsSandbox;
constexpr const char* kRaw = CupsSandbox::kRawQueue;
constexpr const char* kPs = CupsSandbox::kPostScriptQueue;

// Every printer attribute as the server reports it, "tag value" by name. Attributes that tell
// the time or the state of the queue change by themselves and are left out.
std::map<std::string, std::string> PrinterAttributes(const char* queue) {
  std::map<std::string, std::string> out;
  ipp_t* response = test::PrinterAttributesResponse(queue);
  for (ipp_attribute_t* a = ippFirstAttribute(response); a; a = ippNextAttribute(response)) {
    const char* name = ippGetName(a);
    if (!name || std::string_view(name).find("time") != std::string_view::npos ||
        std::string_view(name).starts_with("printer-state") ||
        std::string_view(name) == "queued-job-count")
      continue;
    char value[4096];
    ippAttributeString(a, value, sizeof value);
    out[name] += std::string(ippTagString(ippGetValueTag(a))) + " " + value + ";";
  }
  ippDelete(response);
  return out;
}

// Sets one default on the server the way an administrator's tool would.
bool SetServerDefault(const char* queue, const char* attribute, ipp_tag_t tag,
                      const std::string& value) {
  ipp_t* request = ippNewRequest(IPP_OP_CUPS_ADD_MODIFY_PRINTER);
  char uri[HTTP_MAX_URI];
  httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0,
                   "/printers/%s", queue);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
               cupsUser());
  ippAddString(request, IPP_TAG_PRINTER, tag, attribute, nullptr, value.c_str());
  ippDelete(cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/admin/"));
  return cupsLastError() <= IPP_STATUS_OK_CONFLICTING;
}

class PrinterSettingsTest : public test::OutputsFixture {
 protected:
  PrinterSettingsTest() {
    kernel->settings.DebugMode = true;
    original = *printers::ReadDefaultsBlock(kPs);
  }
  ~PrinterSettingsTest() override {
    // Leave the queue as the next test expects it.
    printers::WriteDefaultsBlock(kPs, original);
  }

  // A channel on `printer` that carries `block` as its driver settings.
  PrintChannel& Channel(int index, const std::string& printer, const std::vector<uint8_t>& block) {
    kernel->channels.resize(std::max<std::size_t>(kernel->channels.size(), index + 2),
                            EmptyChannel());
    kernel->channelCount = static_cast<int32_t>(kernel->channels.size()) - 1;
    PrintChannel& c = kernel->channels[index];
    WriteField(c.printerName, printer);
    c.driverSize = static_cast<int32_t>(block.size());
    if (!block.empty()) std::memcpy(c.driverData, block.data(), block.size());
    return c;
  }
  // The block the queue has with `media` as its default paper.
  std::vector<uint8_t> BlockWithMedia(const std::string& media) {
    printers::SetDefaultMedia(kPs, media);
    auto block = *printers::ReadDefaultsBlock(kPs);
    printers::WriteDefaultsBlock(kPs, original);
    return block;
  }
  int32_t PaperHeightDots(const char* printer) {
    return printers::ReadPageMetrics(printer)->paperHeight;
  }

  std::vector<uint8_t> original;
};

TEST_F(PrinterSettingsTest, ListsPrintersAndMeasuresTheDriversPage) {
  auto names = printers::Names();
  EXPECT_NE(std::find(names.begin(), names.end(), kRaw), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), kPs), names.end());
  EXPECT_EQ(printers::DefaultName(), kRaw);

  auto m = printers::ReadPageMetrics(kPs);  // A4 with 4.23 mm margins at 300 dpi
  ASSERT_TRUE(m);
  EXPECT_EQ(m->dpiX, 300);
  EXPECT_EQ(m->paperWidth, 2479);
  EXPECT_EQ(m->paperHeight, 3508);
  EXPECT_EQ(m->offsetX, 50);
  EXPECT_EQ(m->printableWidth, 2479 - 100);

  ASSERT_TRUE(outputs->SelectPrinter(kPs));
  EXPECT_EQ(kernel->printerGeometry.paperRect.bottom, 3508);
  EXPECT_EQ(kernel->printerGeometry.printRect.right, 2479 - 50);
  EXPECT_FALSE(outputs->SelectPrinter("CAPTURE-PS"));  // names are exact here
}

TEST_F(PrinterSettingsTest, QueueLengthCountsHeldJobs) {
  auto& cups = CupsSandbox::Get();
  ASSERT_TRUE(cups.PauseQueue(kRaw));
  std::string path = (dir.path() / "job.prn").string();
  test::WriteFileBytes(path, "data");
  for (const char* title : {"one", "two"}) {
    std::string error;
    auto job = printers::StreamJob::Start(kRaw, title, "job.prn", "application/vnd.cups-raw", 1,
                                          nullptr, &error);
    ASSERT_TRUE(job) << error;
    const uint8_t data[] = {'d', 'a', 't', 'a'};
    ASSERT_TRUE(job->Write(data));
    ASSERT_TRUE(job->Finish(&error)) << error;
  }
  EXPECT_EQ(printers::ActiveJobCount(kRaw), 2);

  Channel(0, kRaw, {});
  ASSERT_TRUE(outputs->PrepareChannelPrinter(0));
  EXPECT_EQ(kernel->jobsInSpooler, 2);
  EXPECT_FALSE(kernel->driverChanged);
}

TEST_F(PrinterSettingsTest, ChannelBlockBecomesTheDefaultAndRestoreBringsTheOldOneBack) {
  const auto a5 = BlockWithMedia("iso_a5_148x210mm");
  ASSERT_EQ(a5.size(), original.size());
  ASSERT_NE(a5, original);
  Channel(0, kPs, a5);

  ASSERT_TRUE(outputs->PrepareChannelPrinter(0));
  EXPECT_TRUE(kernel->driverChanged);
  EXPECT_EQ(PaperHeightDots(kPs), 2479);  // the driver's A5: 209.9 mm at 300 dpi
  EXPECT_EQ(kernel->printerDefaults.driverSize, static_cast<int32_t>(original.size()));
  EXPECT_EQ(ReadField(kernel->printerDefaults.printerName), kPs);
  EXPECT_EQ(log.back(),
            "DEBUG-INFO Printer driver settings changed - " + std::to_string(a5.size()) + " Bytes");

  ASSERT_TRUE(outputs->RestorePrinterDefaults());
  EXPECT_EQ(PaperHeightDots(kPs), 3508);  // A4 again
  EXPECT_EQ(kernel->printerDefaults.driverSize, 0);
  EXPECT_FALSE(outputs->RestorePrinterDefaults());  // nothing left to restore
}

TEST_F(PrinterSettingsTest, SecondChannelOnThePrinterSavesTheFirstChannelsBlock) {
  const auto a5 = BlockWithMedia("iso_a5_148x210mm");
  const auto a3 = BlockWithMedia("iso_a3_297x420mm");
  Channel(0, kPs, a5);
  Channel(1, kPs, a3);
  ASSERT_TRUE(outputs->PrepareChannelPrinter(0));
  ASSERT_TRUE(outputs->PrepareChannelPrinter(1));
  EXPECT_EQ(PaperHeightDots(kPs), 4963);  // the driver's A3
  ASSERT_EQ(kernel->printerDefaults.driverSize, static_cast<int32_t>(a5.size()));
  EXPECT_EQ(std::memcmp(kernel->printerDefaults.driverData, a5.data(), a5.size()), 0);
}

TEST_F(PrinterSettingsTest, EqualBlockChangesNothingAndForeignBlockIsRefused) {
  kernel->printerDefaults.driverSize = 7;
  Channel(0, kPs, original);
  ASSERT_TRUE(outputs->PrepareChannelPrinter(0));
  EXPECT_FALSE(kernel->driverChanged);
  EXPECT_EQ(kernel->printerDefaults.driverSize, 0);

  // A block made by another driver (the raw queue has fewer settings) no longer fits.
  Channel(0, kPs, *printers::ReadDefaultsBlock(kRaw));
  EXPECT_FALSE(outputs->PrepareChannelPrinter(0));
  EXPECT_EQ(log.back(), "ERROR Printer driver settings structure does not match any more!");
  EXPECT_EQ(PaperHeightDots(kPs), 3508);

  Channel(0, "no-such-printer", original);
  EXPECT_FALSE(outputs->PrepareChannelPrinter(0));
  EXPECT_EQ(log.back(), "ERROR Couldn't change printer default settings! Check user privileges.");
  Channel(0, "no-such-printer", {});
  EXPECT_FALSE(outputs->PrepareChannelPrinter(0));
  EXPECT_EQ(log.back(), "ERROR Couldn't read printer spooler status! Check user privileges.");

  Channel(0, "SCREEN", original);
  EXPECT_TRUE(outputs->PrepareChannelPrinter(0));
  EXPECT_EQ(kernel->jobsInSpooler, 0);
}

TEST_F(PrinterSettingsTest, DefaultsWrittenBackUnchangedChangeNoPrinterAttribute) {
  // Defaults of every kind the block holds, one of them too long for its slot.
  const std::string longBin(120, 'b');
  ASSERT_EQ(printers::SetDefaultMedia(kPs, "iso_a5_148x210mm"), printers::WriteResult::kOk);
  ASSERT_TRUE(SetServerDefault(kPs, "print-color-mode-default", IPP_TAG_KEYWORD, "monochrome"));
  ASSERT_TRUE(SetServerDefault(kPs, "output-bin-default", IPP_TAG_KEYWORD, longBin));
  const auto before = PrinterAttributes(kPs);
  ASSERT_NE(before.at("output-bin-default").find(longBin), std::string::npos);

  const auto block = printers::ReadDefaultsBlock(kPs);
  ASSERT_TRUE(block);
  EXPECT_EQ(block->size(), original.size()) << "the values never change the block's length";
  EXPECT_EQ(std::string(block->begin(), block->end()).find("bbbb"), std::string::npos)
      << "a value that does not fit is recorded as none, not cut short";
  ASSERT_EQ(printers::WriteDefaultsBlock(kPs, *block), printers::WriteResult::kOk);
  const auto after = PrinterAttributes(kPs);
  for (const auto& [name, value] : before) EXPECT_EQ(after.at(name), value) << name;
  EXPECT_EQ(after.size(), before.size());
}

TEST_F(PrinterSettingsTest, FailedRestoreKeepsTheSavedBlockAndSaysSo) {
  // A saved block of the right length that the printer cannot take.
  std::vector<uint8_t> damaged = original;
  damaged[0] = 'X';
  PrintChannel& saved = kernel->printerDefaults;
  WriteField(saved.printerName, kPs);
  saved.driverSize = static_cast<int32_t>(damaged.size());
  std::memcpy(saved.driverData, damaged.data(), damaged.size());

  EXPECT_FALSE(outputs->RestorePrinterDefaults());
  EXPECT_EQ(
      log, std::vector<std::string>{"ERROR Printer driver default settings couldn't be restored!"});
  EXPECT_EQ(saved.driverSize, static_cast<int32_t>(damaged.size()));
}

TEST_F(PrinterSettingsTest, PaperIsReportedOnlyWhenTheServerTookIt) {
  // A printer that was there when it was looked for and is gone when the paper is written.
  const char* gone = "vellumora-gone";
  ASSERT_EQ(std::system((std::string("lpadmin -p ") + gone + " -E -v file:/dev/null").c_str()), 0);
  ASSERT_TRUE(printers::Answers(gone));
  ASSERT_EQ(std::system((std::string("lpadmin -x ") + gone).c_str()), 0);
  log.clear();
  EXPECT_FALSE(outputs->SetPrinterDefaultPaper(gone, 11, 0, 0));
  EXPECT_FALSE(outputs->SetPrinterDefaultPaper(gone, 256, 100, 200));
  EXPECT_EQ(log, (std::vector<std::string>{
                     "ERROR Couldn't modify the printer's default paper dimensions!",
                     "ERROR Couldn't modify the printer's default paper dimensions!"}));
  // Nor did writing its paper bring the removed printer back.
  auto names = printers::Names();
  EXPECT_EQ(std::find(names.begin(), names.end(), gone), names.end());
  std::system((std::string("lpadmin -x ") + gone + " 2>/dev/null").c_str());
}

TEST_F(PrinterSettingsTest, PictureOfAChannelWithAPaperCodePrintsOnThatPaper) {
  ASSERT_TRUE(outputs->SelectPrinter(kPs));
  PrintChannel c = EmptyChannel();
  WriteField(c.printerName, kPs);
  c.copies = 1;
  c.dpiX = c.dpiY = 300;
  c.paperSize = 11;                      // A5
  c.geometry = kernel->printerGeometry;  // measured on A4 when the channel was set up
  c.geometry.borderRect = {100, 100, 1000, 1000};
  kernel->currentChannel = c;
  test::WritePicture(Path("a5.png"), test::PictureSpec{200, 200, test::Rgb{200, 20, 20}, 0});
  EXPECT_EQ(outputs->PrintBitmapFile(Job(Path("a5.png"), kPs, 1)).result, OutputResult::kPrinted);

  auto jobs = CupsSandbox::Get().WaitForJobs(kPs, 1, std::chrono::seconds(30));
  ASSERT_EQ(jobs.size(), 1u);
  // The driver turns the PDF page into PostScript of the page's size: A5 in points.
  EXPECT_NE(jobs[0].data.find("%%HiResBoundingBox: 0 0 420.00 595.00"), std::string::npos)
      << jobs[0].data.substr(0, 600);
  printers::SetDefaultMedia(kPs, "iso_a4_210x297mm");
}

TEST_F(PrinterSettingsTest, DefaultPaperByCodeAndCustomSize) {
  EXPECT_FALSE(outputs->SetPrinterDefaultPaper(kPs, 256, 0, 0));  // no size: nothing to set
  EXPECT_FALSE(outputs->SetPrinterDefaultPaper(kPs, 0, 0, 0));    // no paper of its own
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(PaperHeightDots(kPs), 3508);
  // A paper code needs no size: A5.
  EXPECT_TRUE(outputs->SetPrinterDefaultPaper(kPs, 11, 0, 0));
  EXPECT_EQ(PaperHeightDots(kPs), 2479);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), "11 was set as new printer default paper size");
  EXPECT_TRUE(outputs->SetPrinterDefaultPaper(kPs, 9, 0, 0));  // A4
  EXPECT_EQ(PaperHeightDots(kPs), 3508);
  EXPECT_TRUE(outputs->SetPrinterDefaultPaper(kPs, 11, 50, 50));  // A5; the size is ignored
  EXPECT_EQ(PaperHeightDots(kPs), 2479);
  EXPECT_EQ(log.back(), "11 was set as new printer default paper size");

  // A custom size with only a length keeps the current width.
  EXPECT_TRUE(outputs->SetPrinterDefaultPaper(kPs, 256, 0, 300));
  auto m = printers::ReadPageMetrics(kPs);
  EXPECT_EQ(m->paperWidth, 1750);   // 148.2 mm, the width of the driver's A5
  EXPECT_EQ(m->paperHeight, 3543);  // 300 mm
  EXPECT_EQ(log.back(), "0 mm x 300 mm were set as new printer default paper dimensions");

  EXPECT_FALSE(outputs->SetPrinterDefaultPaper("no-such-printer", 9, 210, 297));
  EXPECT_EQ(log.back(), "ERROR Couldn't open printer to modify default paper dimensions!");
  printers::SetDefaultMedia(kPs, "iso_a4_210x297mm");
}

TEST_F(PrinterSettingsTest, DocumentOfTwoPagesIsOneJobAndAnAbortedOneNone) {
  auto& cups = CupsSandbox::Get();
  PrinterObject& printer = outputs->printer();
  ASSERT_TRUE(outputs->SelectPrinter(kRaw));
  printer.title = "Vellumora: two pages.jpg";
  ASSERT_TRUE(printer.BeginDoc());
  EXPECT_FALSE(printer.SetOrientation(Orientation::kLandscape));  // not while printing
  printer.canvas().SetFont(FontSpec{});
  printer.canvas().DrawText(100, 100, "page one");
  printer.NewPage();
  printer.canvas().DrawText(100, 100, "page two");
  std::string error;
  ASSERT_TRUE(printer.EndDoc("page.pdf", nullptr, &error)) << error;

  ASSERT_TRUE(printer.BeginDoc());
  printer.canvas().DrawText(100, 100, "never sent");
  printer.Abort();

  auto jobs = cups.WaitForJobs(kRaw, 1);
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].Info("title"), "Vellumora: two pages.jpg");
  EXPECT_EQ(jobs[0].data.rfind("%PDF-", 0), 0u);
  EXPECT_NE(jobs[0].data.find("/Count 2"), std::string::npos);
  EXPECT_TRUE(cups.WaitForActiveJobs(kRaw, 0)) << "the job finishes a moment after its data landed";
  EXPECT_TRUE(
      std::filesystem::is_empty(dir.path() / "Vellumora" / "Temp"));  // no document left behind
}

TEST_F(PrinterSettingsTest, AccessTestBits) {
  EXPECT_EQ(outputs->TestPrinterAccess(kPs), 63);
  EXPECT_EQ(log, (std::vector<std::string>{"OK:    Bitmap graphics printing possible",
                                           "OK:    Full printer driver settings access verified"}));
  EXPECT_EQ(outputs->TestPrinterAccess("no-such-printer"), 0);
  EXPECT_EQ(outputs->TestPrinterAccess("CAPTURE"), 1);  // the server knows it, the list does not
  EXPECT_EQ(outputs->TestPrinterAccess(""), 0);
  EXPECT_EQ(outputs->TestPrinterAccess("SCREEN"), 0);
}

TEST_F(PrinterSettingsTest, StartUpReportWithAndWithoutTheChannelChecks) {
  const std::string sep(110, '-');
  const std::string data = kernel->dataDir.substr(0, kernel->dataDir.size() - 1);
  const std::vector<std::string> head = {
      sep,           "INITIAL SYSTEM CHECK:",
      sep,           "User = " + UserName(),
      "  ",          "Accessible Printers:",
      "    capture", "    capture-ps",
      "  ",          "OK:    Full access to folder " + data + " verified"};
  std::filesystem::create_directory(dir.path() / "in");
  WriteField(Channel(0, kPs, {}).sourceFolder, (dir.path() / "in").string() + "/");
  WriteField(Channel(1, "SCREEN", {}).sourceFolder, "/no/such/folder");

  log.clear();
  kernel->InitialSystemCheck();
  std::vector<std::string> expected = head;
  expected.push_back(sep);
  EXPECT_EQ(log, expected);

  log.clear();
  kernel->settings.StartUpCheck = true;
  kernel->InitialSystemCheck();
  expected = head;
  for (const char* line :
       {"  ", "Now scanning all print channel folders and printers for access privileges...",
        "Print channel 1 ==> capture-ps"})
    expected.push_back(line);
  expected.push_back("OK:    Full access to folder " + (dir.path() / "in").string() + " verified");
  for (const char* line :
       {"OK:    Bitmap graphics printing possible",
        "OK:    Full printer driver settings access verified", "Print channel 2 ==> SCREEN",
        "ERROR: Folder /no/such/folder can't be found any more",
        "ERROR: Printer is not accessible or can't be found"})
    expected.push_back(line);
  expected.push_back(sep);
  EXPECT_EQ(log, expected);
}

}  // namespace
}  // namespace vellumora
