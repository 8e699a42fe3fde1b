// SPDX-License-Identifier: MIT
// vshare's logins: requests checked against a credentials file with the
// user alice (password "secret"), the failed-login limit and its expiry,
// the cache of verified logins, the first start's credential, -passwd.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "access_control.h"
#include "credentials_file.h"
#include "passwd_command.h"

namespace {

constexpr const char* kRight = "Basic YWxpY2U6c2VjcmV0";     // alice:secret
constexpr const char* kWrong = "Basic YWxpY2U6d3Jvbmc=";     // alice:wrong
constexpr const char* kStranger = "Basic Ym9iOnNlY3JldA==";  // bob:secret
constexpr const char* kNewPassword = "Basic YWxpY2U6bmV3";   // alice:new
constexpr const char* kA = "192.0.2.1";
constexpr const char* kB = "2001:db8::2";

struct temporary_directory {
    std::string path;
    temporary_directory() {
        char name[] = "/tmp/access_control_test.XXXXXX";
        path = mkdtemp(name) != nullptr ? name : "";
    }
    ~temporary_directory() {
        std::error_code ignored;
        if (!path.empty())
            std::filesystem::remove_all(path, ignored);
    }
    [[nodiscard]] std::string file(const char* name) const { return path + "/" + name; }
};

std::string read_file(const std::string& path) {
    std::ifstream in(path);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

mode_t mode_of(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

std::string base64(const std::string& plain) {
    static constexpr std::string_view kDigits =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (size_t i = 0; i < plain.size(); i += 3) {
        const size_t n = std::min<size_t>(3, plain.size() - i);
        uint32_t group = 0;
        for (size_t j = 0; j < 3; ++j) {
            group = group << 8 | (j < n ? static_cast<unsigned char>(plain[i + j]) : 0U);
        }
        for (size_t j = 0; j < 4; ++j) {
            text += j <= n ? kDigits[group >> (18 - 6 * j) & 63] : '=';
        }
    }
    return text;
}

// run_passwd with `input` as its standard input.
int passwd(const std::string& users, const char* user, const std::string& input) {
    int ends[2];
    EXPECT_EQ(pipe(ends), 0);
    EXPECT_EQ(write(ends[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
    close(ends[1]);
    const int status = run_passwd(users.c_str(), user, ends[0]);
    close(ends[0]);
    return status;
}

struct login_step {
    const char* authorization;
    const char* client;
    int64_t now_ms;
    access_verdict verdict;
    int retry_after_s = 0;
};

struct login_case {
    const char* name;
    std::vector<login_step> steps;
    uint64_t hashings;  // after the last step
};

const access_verdict kAllowed = access_verdict::allowed;
const access_verdict kRefused = access_verdict::refused;
const access_verdict kLimited = access_verdict::limited;

const login_case kLoginCases[] = {
    {"NoHeaderIsRefusedAndCostsNothing", {{"", kA, 0, kRefused}}, 0},
    {"TheRightPasswordIsAllowed", {{kRight, kA, 0, kAllowed}}, 1},
    {"AWrongPasswordIsRefused", {{kWrong, kA, 0, kRefused}}, 1},
    // As slow as a known one, so that the answer does not tell who exists.
    {"AnUnknownUserIsRefusedAfterAHashing", {{kStranger, kA, 0, kRefused}}, 1},
    {"MalformedCredentialsAreRefusedWithoutHashing",
     {{"Basic !!!!", kA, 0, kRefused},
      {"Basic YWxpY2U=", kA, 0, kRefused},  // no colon
      {"Basic YWxpY2U6c2VjcmV0=", kA, 0, kRefused},
      {"Basic YWxp=2U6c2VjcmV0", kA, 0, kRefused},
      {"Basic", kB, 0, kRefused},
      {"BasicYWxpY2U6c2VjcmV0", kB, 0, kRefused},
      {"Bearer YWxpY2U6c2VjcmV0", kB, 0, kRefused}},
     0},
    {"TheSchemeInAnyCaseAndSpacesAroundTheToken",
     {{"bASIC   YWxpY2U6c2VjcmV0 ", kA, 0, kAllowed}},
     1},
    {"FiveFailuresAMinuteThenLimitedUntilTheMinuteIsOver",
     {{kWrong, kA, 0, kRefused},
      {kWrong, kA, 1000, kRefused},
      {"Basic !!!!", kA, 2000, kRefused},
      {kStranger, kA, 3000, kRefused},
      {kWrong, kA, 4000, kRefused},
      {kRight, kA, 5000, kLimited, 55},
      {"", kA, 5000, kLimited, 55},
      {kWrong, kA, 59001, kLimited, 1},
      {kRight, kB, 30000, kAllowed},
      {kRight, kA, 60000, kAllowed}},
     5},
    {"ALoginVerifiedOnceCostsNoHashingAndPassesALimit",
     {{kRight, kA, 0, kAllowed},
      {kRight, kB, 1000, kAllowed},
      {kWrong, kA, 2000, kRefused},
      {kWrong, kA, 2000, kRefused},
      {kWrong, kA, 2000, kRefused},
      {kWrong, kA, 2000, kRefused},
      {kWrong, kA, 2000, kRefused},
      {kRight, kA, 3000, kAllowed},
      {kWrong, kA, 3000, kLimited, 59},
      {"Basic  YWxpY2U6c2VjcmV0", kA, 3000, kLimited, 59}},  // not the cached bytes
     6},
};

class Logins : public testing::TestWithParam<login_case> {
  protected:
    static void SetUpTestSuite() {
        directory_ = new temporary_directory;
        ASSERT_TRUE(set_password(directory_->file("users").c_str(), "alice", "secret"));
    }
    static void TearDownTestSuite() { delete directory_; }

    static temporary_directory* directory_;
};
temporary_directory* Logins::directory_ = nullptr;

TEST_P(Logins, Check) {
    access_control access;
    ASSERT_TRUE(access.open(directory_->file("users").c_str(), false));
    for (const login_step& step : GetParam().steps) {
        const access_decision decision = access.check(step.authorization, step.client, step.now_ms);
        EXPECT_EQ(decision.verdict, step.verdict) << step.authorization << " at " << step.now_ms;
        EXPECT_EQ(decision.retry_after_s, step.retry_after_s) << step.authorization;
    }
    EXPECT_EQ(access.hashings(), GetParam().hashings);
}

INSTANTIATE_TEST_SUITE_P(AccessControl, Logins, testing::ValuesIn(kLoginCases),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(AccessControl, ACachedLoginIsForgottenWhenTheFileChangesOrGoes) {
    const temporary_directory directory;
    const std::string users = directory.file("users");
    ASSERT_TRUE(set_password(users.c_str(), "alice", "secret"));
    access_control access;
    ASSERT_TRUE(access.open(users.c_str(), false));
    EXPECT_EQ(access.check(kRight, kA, 0).verdict, kAllowed);
    ASSERT_EQ(passwd(users, "alice", "new\n"), 0);
    EXPECT_EQ(access.check(kRight, kA, 1).verdict, kRefused);
    EXPECT_EQ(access.check(kNewPassword, kA, 2).verdict, kAllowed);
    EXPECT_EQ(access.hashings(), 3U);
    // A file taken away takes every login with it, cached ones included.
    ASSERT_EQ(unlink(users.c_str()), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(access.check(kNewPassword, kA, 3).verdict, kRefused);
    EXPECT_EQ(access.check(kNewPassword, kA, 4).verdict, kRefused);
    // Said once, not at every request.
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(said.ends_with(": " + users + " is gone: nobody may watch until it is back\n"));
    EXPECT_EQ(said.find("is gone"), said.rfind("is gone")) << said;
}

TEST(AccessControl, WithoutLoginsEverythingIsAllowedAndNoFileMade) {
    const temporary_directory directory;
    access_control access;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(access.open(directory.file("users").c_str(), true));
    EXPECT_EQ(access.check("", kA, 0).verdict, kAllowed);
    EXPECT_EQ(access.check(kWrong, kA, 0).verdict, kAllowed);
    EXPECT_TRUE(testing::internal::GetCapturedStderr().ends_with(
        ": logins are off (-no-auth): anyone who reaches this server may watch\n"));
    EXPECT_EQ(mode_of(directory.file("users")), 0U);
}

// The first start's password, read back from the file it names.
std::string first_start(const temporary_directory& directory, std::string* log) {
    access_control access;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(access.open(directory.file("users").c_str(), false));
    *log = testing::internal::GetCapturedStderr();
    std::string password = read_file(directory.file("admin.password"));
    EXPECT_TRUE(password.ends_with('\n'));
    password.pop_back();
    return password;
}

TEST(AccessControl, TheFirstStartMakesAPrivateLoginOfItsOwn) {
    const temporary_directory one;
    const temporary_directory two;
    std::string log;
    const std::string password = first_start(one, &log);
    EXPECT_TRUE(log.ends_with(": no credentials file: created " + one.file("users") +
                              " with the user admin, whose password is in " +
                              one.file("admin.password") + "\n"))
        << log;
    EXPECT_EQ(password.size(), 16U);
    EXPECT_EQ(password.find_first_not_of("abcdefghijkmnpqrstuvwxyz23456789"), std::string::npos);
    EXPECT_EQ(mode_of(one.file("users")), 0600U);
    EXPECT_EQ(mode_of(one.file("admin.password")), 0600U);
    EXPECT_TRUE(read_file(one.file("users")).starts_with("admin:$"));

    // The password opens the door, and no second board gets the same.
    access_control access;
    ASSERT_TRUE(access.open(one.file("users").c_str(), false));
    const std::string encoded = base64("admin:" + password);
    EXPECT_EQ(access.check("Basic " + encoded, kA, 0).verdict, kAllowed) << encoded;
    EXPECT_NE(first_start(two, &log), password);
    EXPECT_NE(read_file(two.file("users")), read_file(one.file("users")));
}

TEST(AccessControl, AFirstStartThatCannotWriteLeavesNothing) {
    const temporary_directory directory;
    const std::string users = directory.file("missing/users");
    access_control access;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(access.open(users.c_str(), false));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("cannot create a file beside"),
              std::string::npos);
    EXPECT_EQ(read_file(directory.file("admin.password")), "");
}

struct passwd_case {
    const char* name;
    const char* user;
    const char* input;
    int status;
    const char* message;  // the end of what standard error says
    const char* file;     // what the file then holds; "*" for a new hash
};

constexpr const char* kBefore = "alice:$y$old\nnot a login line\ncarol:$y$carol\n";

const passwd_case kPasswdCases[] = {
    {"ReplacesTheUsersLineKeepingTheOthers", "alice", "new\nignored", 0,
     "the password of alice is set in USERS\n", "alice:*\nnot a login line\ncarol:$y$carol\n"},
    {"AddsANewUserAtTheEnd", "bob", "pw\n", 0, "the password of bob is set in USERS\n",
     "alice:$y$old\nnot a login line\ncarol:$y$carol\nbob:*\n"},
    {"TakesALastLineWithoutItsLineFeed", "carol", "pw", 0,
     "the password of carol is set in USERS\n", "alice:$y$old\nnot a login line\ncarol:*\n"},
    {"RefusesAnEmptyPassword", "alice", "\n", 1,
     "-passwd: expected the password on standard input, one line, not empty\n", kBefore},
    {"RefusesNoInput", "alice", "", 1,
     "-passwd: expected the password on standard input, one line, not empty\n", kBefore},
    {"RefusesAColonInTheUser", "al:ice", "pw\n", 1,
     "-passwd: a user name is 1 to 64 bytes without ':' or control characters, not 'al:ice'\n",
     kBefore},
    {"RefusesAnEmptyUser", "", "pw\n", 1,
     "-passwd: a user name is 1 to 64 bytes without ':' or control characters, not ''\n", kBefore},
    {"RefusesALineFeedInTheUser", "a\nb", "pw\n", 1,
     "-passwd: a user name is 1 to 64 bytes without ':' or control characters, not 'a\nb'\n",
     kBefore},
    {"RefusesAnOverlongPassword", "alice", "*", 1,
     "-passwd: the password is longer than 512 bytes\n", kBefore},
};

class Passwd : public testing::TestWithParam<passwd_case> {};

TEST_P(Passwd, SetsOneLogin) {
    const passwd_case& row = GetParam();
    const temporary_directory directory;
    const std::string users = directory.file("users");
    std::ofstream(users) << kBefore;
    ASSERT_EQ(chmod(users.c_str(), 0600), 0);
    const std::string input = row.input == std::string("*") ? std::string(600, 'x') : row.input;
    testing::internal::CaptureStderr();
    EXPECT_EQ(passwd(users, row.user, input), row.status);
    std::string message = row.message;
    if (const size_t at = message.find("USERS"); at != std::string::npos) {
        message.replace(at, 5, users);
    }
    EXPECT_TRUE(testing::internal::GetCapturedStderr().ends_with(message)) << message;

    // A new hash stands where the pattern has "*"; the rest is byte for byte.
    const std::string content = read_file(users);
    std::string expected = row.file;
    const size_t star = expected.find('*');
    if (star != std::string::npos) {
        const size_t end = content.find('\n', star);
        ASSERT_NE(end, std::string::npos);
        EXPECT_TRUE(content.substr(star, 3) == "$y$" || content[star] == '$');
        expected.replace(star, 1, content.substr(star, end - star));
    }
    EXPECT_EQ(content, expected);
    EXPECT_EQ(mode_of(users), 0600U);
}

INSTANTIATE_TEST_SUITE_P(AccessControl, Passwd, testing::ValuesIn(kPasswdCases),
                         [](const auto& row) { return std::string(row.param.name); });

TEST(AccessControl, APasswordSetIsTheOneThatOpens) {
    const temporary_directory directory;
    const std::string users = directory.file("users");
    ASSERT_EQ(passwd(users, "alice", "secret\n"), 0);  // the file is made
    EXPECT_EQ(mode_of(users), 0600U);
    access_control access;
    ASSERT_TRUE(access.open(users.c_str(), false));
    EXPECT_EQ(access.check(kRight, kA, 0).verdict, kAllowed);
    EXPECT_EQ(access.check(kWrong, kB, 0).verdict, kRefused);
}

}  // namespace
