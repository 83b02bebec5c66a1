// The service's view of hot folders: whose access is checked, the folders its sandbox hides,
// and the commands the warnings offer.
#include "host/service-folders.h"

#include <gtest/gtest.h>

#include "host/service.h"
#include "kernel/kernel.h"
#include "platform/account-access.h"

namespace vellumora {
namespace {

TEST(ServiceFolders, TheAccountToCheck) {
  C_VAZService service("Vellumora", nullptr, nullptr, true, C_VAZService::Environment{});
  const bool haveServiceAccount = LookUpAccount(kServiceAccount, nullptr).has_value();
  EXPECT_EQ(FolderCheckAccount(service), haveServiceAccount ? kServiceAccount : "");
  const struct {
    const char* accountName;  // as the installed unit reads back
    const char* expected;
  } installed[] = {
      {".\\printer", "printer"},
      {"printer", "printer"},
      {"LocalSystem", ""},  // root may use every folder: nothing to check
      {"root", ""},
  };
  service.installed = true;
  for (const auto& c : installed) {
    service.accountName = c.accountName;
    EXPECT_EQ(FolderCheckAccount(service), c.expected) << c.accountName;
  }
}

TEST(ServiceFolders, FoldersTheServiceNeverSeesOrMayNotWrite) {
  const struct {
    const char* folder;
    const char* expected;
  } cases[] = {
      {"/tmp/in",
       "/tmp/in lies below /tmp, which the service does not see (it has a private /tmp): use "
       "another folder"},
      {"/var/tmp/in/",
       "/var/tmp/in/ lies below /var/tmp, which the service does not see (it has a private "
       "/var/tmp): use another folder"},
      {"/srv/../tmp/in",
       "/srv/../tmp/in lies below /tmp, which the service does not see (it has a private /tmp): "
       "use another folder"},
      {"/dev/shm/in",
       "/dev/shm/in lies below /dev, which the service does not see (it has a private /dev): use "
       "another folder"},
      {"/etc/print",
       "/etc/print lies below /etc, which is read-only for the service: use another "
       "folder"},
      {"/tmpfiles/in", ""},
      {"/srv/tmp/in", ""},
      {"/srv/in", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SandboxedFolderReason(c.folder), c.expected) << c.folder;
    // Only an installed service has the sandbox; without an account nothing else is checked.
    EXPECT_TRUE(ServiceFolderWarnings(c.folder, "", false).empty()) << c.folder;
    EXPECT_EQ(ServiceFolderWarnings(c.folder, "", true).size(), *c.expected ? 1u : 0u) << c.folder;
  }
}

TEST(ServiceFolders, TheGrantCommandPastesIntoAShell) {
  EXPECT_EQ(GrantCommand("/srv/in", kServiceAccount), "vellumora-setup grant /srv/in");
  EXPECT_EQ(GrantCommand("/srv/my in", "printer"),
            "vellumora-setup grant '/srv/my in' --account printer");
  EXPECT_EQ(GrantCommand("/srv/it's", kServiceAccount), "vellumora-setup grant '/srv/it'\\''s'");
  EXPECT_EQ(GrantCommand("/srv/$(reboot)", kServiceAccount),
            "vellumora-setup grant '/srv/$(reboot)'");
}

}  // namespace
}  // namespace vellumora
