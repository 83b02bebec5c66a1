// Whether an account reaches a folder, judged from permissions and ACLs, against what that
// account can really do there; and giving a folder to an account.
#include "platform/account-access.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/sandbox-dir.h"
#include "support/test-account.h"

namespace vellumora {
namespace {

namespace fs = std::filesystem;

// Runs a shell script with P (a folder, 0755, root's), F (a folder in P, 0700, root's), U (the
// account), UG (its own group) and G (its second group) in its environment.
int Prepare(const std::string& script, const fs::path& p, const fs::path& f,
            const test::TestAccount& account) {
  return test::RunQuietly({"/usr/bin/env", "P=" + p.string(), "F=" + f.string(),
                           "U=" + account.name(), "UG=" + account.name(),
                           "G=" + account.groupName(), "/bin/sh", "-ec", script});
}

std::string Getfacl(const fs::path& path) {
  const fs::path out = path.parent_path() / (path.filename().string() + ".acl");
  test::RunQuietly(
      {"/bin/sh", "-c", "getfacl -cp \"$1\" > \"$2\"", "sh", path.string(), out.string()});
  return test::ReadFileBytes(out);
}

TEST(AccountReach, AgreesWithWhatTheAccountCanReallyDo) {
  test::TestAccount account(true);
  if (!account.usable()) GTEST_SKIP() << account.skipReason();
  std::string error;
  const std::optional<AccountIds> ids = LookUpAccount(account.name(), &error);
  ASSERT_TRUE(ids) << error;
  const int rwx = kMayRead | kMayWrite | kMaySearch;
  struct Case {
    const char* what;
    const char* script;
    bool reaches;
    const char* blocked;  // the folder on the way that denies search, below the sandbox
    int folderMissing;
  } cases[] = {
      {"root's private folder", "true", false, "", rwx},
      {"others may read and search only", "chmod 0755 $F", false, "", kMayWrite},
      {"others may do everything", "chmod 0777 $F", true, "", 0},
      {"the way there is closed", "chmod 0777 $F; chmod 0750 $P", false, "p", 0},
      {"the owner's bits, even where others may more", "chown $U $F; chmod 0507 $F", false, "",
       kMayWrite},
      {"the owner", "chown $U $F; chmod 0700 $F", true, "", 0},
      {"its own group", "chgrp $UG $F; chmod 0070 $F", true, "", 0},
      {"its second group", "chgrp $G $F; chmod 0070 $F", true, "", 0},
      {"a group that matches decides, not others", "chgrp $G $F; chmod 0057 $F", false, "",
       kMayWrite},
      {"a named user", "setfacl -m u:$U:rwx $F", true, "", 0},
      {"a named user under the mask", "setfacl -m u:$U:rwx,m::r-x $F", false, "", kMayWrite},
      {"a named user without rights, others with", "chmod 0777 $F; setfacl -m u:$U:--- $F", false,
       "", rwx},
      {"a named group", "setfacl -m g:$G:rwx $F", true, "", 0},
      {"read from one group, write and search from another",
       "chgrp $G $F; chmod 0740 $F; setfacl -m g:$UG:-wx $F", true, "", 0},
      {"a group entry under the mask", "setfacl -m g:$G:rwx,m::r-x $F", false, "", kMayWrite},
      {"the way there is closed by a named entry", "chmod 0777 $F; setfacl -m u:$U:--- $P", false,
       "p", 0},
      {"a link on the way into a closed folder",
       "rmdir $F; mkdir -p $P/shut/real; chmod 0777 $P/shut/real; chmod 0700 $P/shut; "
       "ln -s shut/real $F",
       false, "p/shut", 0},
      {"a link on the way into an open folder, through ..",
       "rmdir $F; mkdir -p $P/open/real; chmod 0777 $P/open/real; "
       "ln -s ../$(basename $P)/open/real $F",
       true, "", 0},
      {"no folder there", "rmdir $F", false, "", 0},
      {"a file there", "rmdir $F; touch $F; chmod 0777 $F", false, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::SandboxDir dir;
    const fs::path p = dir.path() / "p";
    const fs::path f = p / "f";
    fs::create_directories(f);
    chmod(p.c_str(), 0755);
    chmod(f.c_str(), 0700);
    ASSERT_EQ(Prepare(c.script, p, f, account), 0);

    const FolderReach reach = CheckAccountReach(*ids, f.string());
    EXPECT_EQ(account.CanUseFolder(f), reach.reaches()) << reach.Reason(account.name());
    EXPECT_EQ(reach.reaches(), c.reaches) << reach.Reason(account.name());
    EXPECT_NE(reach.verdict, FolderReach::Verdict::kUnknown) << reach.problem;
    if (*c.blocked != '\0') {
      EXPECT_EQ(reach.blockedAncestors,
                std::vector<std::string>{(dir.path() / c.blocked).string()});
    } else {
      EXPECT_TRUE(reach.blockedAncestors.empty());
    }
    if (c.folderMissing != 0) {
      EXPECT_EQ(reach.folderMissing, c.folderMissing);
      EXPECT_EQ(reach.folder, f.string());
    }
    EXPECT_EQ(reach.Reason(account.name()).empty(), c.reaches);
  }
}

TEST(AccountReach, NamesWhatKeepsTheAccountOut) {
  test::TestAccount account;
  if (!account.usable()) GTEST_SKIP() << account.skipReason();
  const std::optional<AccountIds> ids = LookUpAccount(account.name(), nullptr);
  ASSERT_TRUE(ids);
  test::SandboxDir dir;
  const fs::path shut = dir.path() / "shut";
  const fs::path in = shut / "in";
  fs::create_directories(in);
  chmod(shut.c_str(), 0700);
  chmod(in.c_str(), 0755);
  const FolderReach reach = CheckAccountReach(*ids, in.string());
  EXPECT_EQ(reach.Reason(account.name()),
            shut.string() + " does not give " + account.name() + " search permission; " +
                in.string() + " does not give " + account.name() + " write permission");
  const FolderReach missing = CheckAccountReach(*ids, (in / "gone").string());
  EXPECT_TRUE(missing.notFound);
  EXPECT_EQ(missing.Reason(account.name()), (in / "gone").string() + " does not exist");

  // Root may use every folder, and an unknown account is no account.
  const std::optional<AccountIds> root = LookUpAccount("root", nullptr);
  ASSERT_TRUE(root);
  chmod(in.c_str(), 0);
  EXPECT_TRUE(CheckAccountReach(*root, in.string()).reaches());
  std::string error;
  EXPECT_FALSE(LookUpAccount("vlm-no-such-account", &error));
  EXPECT_EQ(error, "there is no account vlm-no-such-account on this machine");
}

TEST(GrantFolder, TheAccountMayUseTheFolderItsWaitingFilesAndWhatArrivesLater) {
  test::TestAccount account;
  if (!account.usable()) GTEST_SKIP() << account.skipReason();
  const std::optional<AccountIds> ids = LookUpAccount(account.name(), nullptr);
  ASSERT_TRUE(ids);
  test::SandboxDir dir;
  const fs::path in = dir.path() / "in";
  fs::create_directories(in / "sub");
  chmod(in.c_str(), 0750);
  test::WriteFileBytes(in / "waiting.jpg", "x");
  chmod((in / "waiting.jpg").c_str(), 0600);
  // A second link to a file from elsewhere, and a link out of the folder, are not given away.
  test::WriteFileBytes(dir.path() / "secret", "s");
  chmod((dir.path() / "secret").c_str(), 0600);
  fs::create_hard_link(dir.path() / "secret", in / "linked");
  test::WriteFileBytes(dir.path() / "other", "o");
  chmod((dir.path() / "other").c_str(), 0600);
  fs::create_symlink(dir.path() / "other", in / "pointer");
  ASSERT_FALSE(account.CanUseFolder(in));

  const GrantResult result = GrantFolder(*ids, in.string());
  ASSERT_TRUE(result.granted) << result.error;
  EXPECT_EQ(result.filesGranted, 1);
  EXPECT_TRUE(result.fileErrors.empty());
  EXPECT_TRUE(CheckAccountReach(*ids, in.string()).reaches());
  EXPECT_TRUE(account.CanUseFolder(in));
  EXPECT_TRUE(account.CanRead(in / "waiting.jpg"));
  EXPECT_FALSE(account.CanRead(in / "linked"));
  EXPECT_FALSE(account.CanRead(dir.path() / "other"));
  EXPECT_EQ(Getfacl(dir.path() / "other"), "user::rw-\ngroup::---\nother::---\n\n");

  // The default ACL was made from the folder's own bits, plus the account.
  EXPECT_EQ(Getfacl(in), "user::rwx\nuser:" + account.name() + ":rwx\ngroup::r-x\nmask::rwx\n" +
                             "other::---\ndefault:user::rwx\ndefault:user:" + account.name() +
                             ":rwx\ndefault:group::r-x\ndefault:mask::rwx\ndefault:other::---\n\n");
  // A file another program drops in afterwards, for its owner and group only, is the
  // account's to read and delete.
  ASSERT_EQ(test::RunQuietly({"/bin/sh", "-c", "umask 077; echo new > \"$1\"", "sh",
                              (in / "later.pdf").string()}),
            0);
  EXPECT_TRUE(account.CanRead(in / "later.pdf"));
  EXPECT_EQ(account.Run({"/bin/rm", "--", (in / "later.pdf").string()}), 0);
  EXPECT_FALSE(fs::exists(in / "later.pdf"));

  // Again: nothing changes, nothing doubles.
  const std::string before = Getfacl(in);
  ASSERT_TRUE(GrantFolder(*ids, in.string()).granted);
  EXPECT_EQ(Getfacl(in), before);
}

TEST(GrantFolder, KeepsADefaultAclThatWasThere) {
  test::TestAccount account(true);
  if (!account.usable()) GTEST_SKIP() << account.skipReason();
  const std::optional<AccountIds> ids = LookUpAccount(account.name(), nullptr);
  ASSERT_TRUE(ids);
  test::SandboxDir dir;
  const fs::path in = dir.path() / "in";
  fs::create_directories(in);
  chmod(in.c_str(), 0700);
  ASSERT_EQ(test::RunQuietly(
                {"setfacl", "-m", "d:g:" + account.groupName() + ":r-x,d:o::r--", in.string()}),
            0);
  ASSERT_TRUE(GrantFolder(*ids, in.string()).granted);
  const std::string acl = Getfacl(in);
  for (const std::string& line :
       {"default:user:" + account.name() + ":rwx\n",
        "default:group:" + account.groupName() + ":r-x\n", std::string("default:other::r--\n"),
        std::string("default:mask::rwx\n")})
    EXPECT_NE(acl.find(line), std::string::npos) << line << acl;
}

TEST(GrantFolder, RefusesWhatIsNoFolderOfItsOwn) {
  test::SandboxDir dir;
  const fs::path in = dir.path() / "in";
  fs::create_directories(in);
  test::WriteFileBytes(dir.path() / "file", "x");
  fs::create_directory_symlink(in, dir.path() / "link");
  const AccountIds nobody{"nobody", 65534, 65534, {65534}};
  const struct {
    std::string folder;
    std::string error;
  } cases[] = {
      {(dir.path() / "link").string(),
       (dir.path() / "link").string() + " is a symbolic link; give the folder it points to"},
      {(dir.path() / "file").string(), (dir.path() / "file").string() + " is not a folder"},
      {(dir.path() / "gone").string(), (dir.path() / "gone").string() + " does not exist"},
      {"/", "the root folder is never given away"},
      {"/tmp", "/tmp is a top-level folder of the system; give a folder inside it"},
  };
  for (const auto& c : cases) {
    const GrantResult result = GrantFolder(nobody, c.folder);
    EXPECT_FALSE(result.granted) << c.folder;
    EXPECT_EQ(result.error, c.error);
  }
  EXPECT_EQ(Getfacl(in).find("nobody"), std::string::npos);
}

}  // namespace
}  // namespace vellumora
