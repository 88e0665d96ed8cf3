#include "core/platform/beneath.h"
#include "core/remote/remote_failure.h"
#include "core/remote/remote_ops.h"

#include <cerrno>
#include <gtest/gtest.h>

using namespace paritas;

TEST(ClassifyRcloneError, TurnsRclonesWordsIntoCodes) {
    // Texts as rclone 1.60 answered them on this machine.
    const struct {
        int status;
        const char* text;
        int code;
    } cases[] = {
        {404, "object not found", ENOENT},
        {404, "error in ListJSON: directory not found", ENOENT},
        {404, "Rmdir: directory not found", ENOENT},
        {500, "directory not empty", ENOTEMPTY},
        {500, "mkdir dirExists failed: is a file not a directory", ENOTDIR},
        {500, "error in ListJSON: List failed: is a file not a directory", ENOTDIR},
        {500, "is a directory not a file", EISDIR},
        {500, "NewFs: couldn't connect SSH: dial tcp 127.0.0.1:1: connect: connection refused",
         kRemoteConnectionLost},
        {500, "Propfind \"http://127.0.0.1:9/\": dial tcp 127.0.0.1:9: connect: connection refused",
         kRemoteConnectionLost},
        {500, "failed to read directory: sftp: connection lost", kRemoteConnectionLost},
        {500, "couldn't list files: EOF", kRemoteConnectionLost},
        {500,
         "NewFs: couldn't connect SSH: ssh: handshake failed: ssh: unable to authenticate, attempted "
         "methods [none publickey], no supported methods remain",
         EACCES},
        {500, "dial tcp: lookup nas.invalid: no such host", kRemoteConnectionLost},
        {500, "didn't find section in config file", kRemoteNotConfigured},
        {500, "didn't find backend called \"nosuch\"", kRemoteNotConfigured},
        {500, "can't copy - source file is being updated (size changed from 1 to 2)", kChangedSincePlanning},
        {500, "write /x: no space left on device", ENOSPC},
        {500, "something rclone says that we have never seen", kRemoteFailed},
        {404, "a 404 in other words", ENOENT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(classifyRcloneError(c.status, c.text), c.code);
    }
}

TEST(RemoteFailureText, NamesTheRemedyForAMissingRclone) {
    EXPECT_EQ(remoteFailureText(kRcloneMissing), "install rclone (apt install rclone)");
    EXPECT_EQ(describe(RcResult::failure(ENOTEMPTY, "directory not empty")),
              remoteFailureText(ENOTEMPTY) + ": directory not empty");
    EXPECT_EQ(describe(RcResult{}), "");
}

TEST(ParseRcloneTime, ReadsRfc3339AsRcloneWritesIt) {
    const struct {
        const char* text;
        bool ok;
        int64_t seconds;
        int32_t nanos;
    } cases[] = {
        {"1970-01-01T00:00:00Z", true, 0, 0},
        {"2026-12-09T21:40:03Z", true, 1796852403, 0},
        {"2026-12-09T21:40:03.697914102Z", true, 1796852403, 697914102},
        {"2026-12-09T21:40:03.5Z", true, 1796852403, 500000000},
        {"2026-12-09T21:40:03.1234567891Z", true, 1796852403, 123456789},
        {"2026-12-09T22:40:03+01:00", true, 1796852403, 0},
        {"2026-12-09T16:10:03.25-05:30", true, 1796852403, 250000000},
        {"2000-02-29T00:00:00Z", true, 951782400, 0},
        {"1969-12-31T23:59:59Z", true, -1, 0},
        {"0001-01-01T00:00:00Z", true, -62135596800, 0},
        {"2026-12-09 21:40:03Z", false, 0, 0},
        {"2026-12-09T21:40:03", false, 0, 0},
        {"2026-13-09T21:40:03Z", false, 0, 0},
        {"2026-12-09T21:40:03.Z", false, 0, 0},
        {"2026-12-09T21:40:03Zjunk", false, 0, 0},
        {"", false, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        int64_t seconds = 0;
        int32_t nanos = 0;
        ASSERT_EQ(remote::parseRcloneTime(c.text, seconds, nanos), c.ok);
        if (!c.ok)
            continue;
        EXPECT_EQ(seconds, c.seconds);
        EXPECT_EQ(nanos, c.nanos);
    }
}

TEST(RemoteExpectation, HoldsOnlyForWhatItNames) {
    RemoteStat file{RemoteKind::File, {"a", false, 5, 100, 7, {}}};
    RemoteStat folder{RemoteKind::Folder, {"a", true, -1, 100, 0, {}}};
    const RemoteStat absent;
    EXPECT_TRUE(RemoteExpectation::anything().heldBy(file));
    EXPECT_TRUE(RemoteExpectation::absent().heldBy(absent));
    EXPECT_FALSE(RemoteExpectation::absent().heldBy(folder));
    EXPECT_TRUE(RemoteExpectation::file(file.entry).heldBy(file));
    EXPECT_FALSE(RemoteExpectation::file(file.entry).heldBy(folder));
    RemoteStat touched = file;
    touched.entry.modifiedNanos = 8;
    EXPECT_FALSE(RemoteExpectation::file(file.entry).heldBy(touched));
    RemoteStat grown = file;
    grown.entry.size = 6;
    EXPECT_FALSE(RemoteExpectation::file(file.entry).heldBy(grown));
}
