#include "core/remote/rc_client.h"
#include "core/remote/remote_path.h"

#include <gtest/gtest.h>

using namespace paritas;

namespace {

struct LocationCase {
    const char* text;
    LocationKind kind;
    const char* fs = nullptr;   // Remote only
    const char* path = nullptr; // Remote only
    const char* name = nullptr; // Remote only
};

const LocationCase kLocations[] = {
    // Configured remotes; locations end with "/".
    {"nas:backup/", LocationKind::Remote, "nas:", "backup/", "nas"},
    {"nas:backup", LocationKind::Remote, "nas:", "backup/", "nas"},
    {"nas:", LocationKind::Remote, "nas:", "", "nas"},
    {"nas:/srv/backup", LocationKind::Remote, "nas:/", "srv/backup/", "nas"},
    {"nas://srv//backup//", LocationKind::Remote, "nas:/", "srv/backup/", "nas"},
    {"my nas.2_b-c:x", LocationKind::Remote, "my nas.2_b-c:", "x/", "my nas.2_b-c"},
    {".hidden:x", LocationKind::Remote, ".hidden:", "x/", ".hidden"},
    {"nas:a:b/c d/é/", LocationKind::Remote, "nas:", "a:b/c d/é/", "nas"},
    {"nas,skip_links:x", LocationKind::Remote, "nas,skip_links:", "x/", "nas"},
    {"gdrive,shared_with_me=true:f", LocationKind::Remote, "gdrive,shared_with_me=true:", "f/", "gdrive"},
    // On Linux a one-letter name is a remote, as rclone reads it.
    {"c:backup/", LocationKind::Remote, "c:", "backup/", "c"},
    {"C:/x", LocationKind::Remote, "C:/", "x/", "C"},
    // Remotes made on the fly, with quoted parameter values holding ":" and ",".
    {":sftp,host=127.0.0.1,port=2022,user=x:path", LocationKind::Remote,
     ":sftp,host=127.0.0.1,port=2022,user=x:", "path/", ":sftp"},
    {":webdav,url='http://h:8080/dav':x/y/", LocationKind::Remote, ":webdav,url='http://h:8080/dav':", "x/y/",
     ":webdav"},
    {":webdav,url=\"http://h:1/a,b\":x", LocationKind::Remote, ":webdav,url=\"http://h:1/a,b\":", "x/",
     ":webdav"},
    {":s3,provider=AWS,env_auth:bucket/dir", LocationKind::Remote,
     ":s3,provider=AWS,env_auth:", "bucket/dir/", ":s3"},
    {":s3,a='it''s':b", LocationKind::Remote, ":s3,a='it''s':", "b/", ":s3"},
    {":memory:", LocationKind::Remote, ":memory:", "", ":memory"},
    {":memory:t/", LocationKind::Remote, ":memory:", "t/", ":memory"},
    {":local:/tmp/b", LocationKind::Remote, ":local:/", "tmp/b/", ":local"},
    // Local paths, a ":" in them or not.
    {"/home/x", LocationKind::Local},
    {"/tmp/a:b", LocationKind::Local},
    {"./a:b", LocationKind::Local},
    {"../a:b", LocationKind::Local},
    {"a/b:c", LocationKind::Local},
    {"notes", LocationKind::Local},
    {"a!:b", LocationKind::Local},
    {"-nas:x", LocationKind::Local},
    {" nas:x", LocationKind::Local},
    {"", LocationKind::Local},
    // Refused.
    {"C:\\backup", LocationKind::Invalid},
    {"nas:a*b", LocationKind::Invalid},
    {"nas:a\tb", LocationKind::Invalid},
    {"nas:a\nb", LocationKind::Invalid},
    {"nas:a\x7f", LocationKind::Invalid},
    {"nas:a\xff", LocationKind::Invalid},
    {"nas:a/../etc", LocationKind::Invalid},
    {"nas:./x", LocationKind::Invalid},
    {"nas:..", LocationKind::Invalid},
    {":webdav,url='http://h:8080:x", LocationKind::Invalid},
    {":webdav,=x:y", LocationKind::Invalid},
    {"nas,:x", LocationKind::Invalid},
    {":", LocationKind::Invalid},
    {"::x", LocationKind::Invalid},
    {":sftp", LocationKind::Invalid},
};

} // namespace

TEST(ParseLocation, TellsRemotesFromLocalPathsAndSplitsFsFromPath) {
    for (const LocationCase& c : kLocations) {
        SCOPED_TRACE(c.text);
        const ParsedLocation parsed = parseLocation(c.text);
        ASSERT_EQ(parsed.kind, c.kind) << parsed.reason;
        if (c.kind == LocationKind::Invalid) {
            EXPECT_FALSE(parsed.reason.empty());
        }
        if (c.kind != LocationKind::Remote)
            continue;
        EXPECT_EQ(parsed.remote.fs, c.fs);
        EXPECT_EQ(parsed.remote.path, c.path);
        EXPECT_EQ(parsed.name, c.name);
        EXPECT_EQ(parsed.text(), std::string(c.fs) + c.path);
    }
}

TEST(ParseLocation, ANormalisedTextReadsBackTheSame) {
    for (const LocationCase& c : kLocations) {
        if (c.kind != LocationKind::Remote)
            continue;
        SCOPED_TRACE(c.text);
        const ParsedLocation once = parseLocation(c.text);
        const ParsedLocation twice = parseLocation(once.text());
        EXPECT_EQ(twice.kind, LocationKind::Remote);
        EXPECT_EQ(twice.remote, once.remote);
    }
}

TEST(RemotePath, JoinsAndSplitsComponents) {
    const RemotePath folder{"nas:", "backup/"};
    EXPECT_EQ(folder.child("a.txt"), (RemotePath{"nas:", "backup/a.txt"}));
    EXPECT_EQ((RemotePath{"nas:", "backup"}).child("a"), (RemotePath{"nas:", "backup/a"}));
    EXPECT_EQ((RemotePath{"nas:", ""}).child("a"), (RemotePath{"nas:", "a"}));
    EXPECT_EQ((RemotePath{"nas:", "x/y/z.txt"}).parent(), (RemotePath{"nas:", "x/y"}));
    EXPECT_EQ((RemotePath{"nas:", "x/y/"}).parent(), (RemotePath{"nas:", "x"}));
    EXPECT_EQ((RemotePath{"nas:", "z.txt"}).parent(), (RemotePath{"nas:", ""}));
    EXPECT_EQ((RemotePath{"nas:", "x/y/"}).name(), "y");
    EXPECT_EQ((RemotePath{"nas:", ""}).name(), "");
    EXPECT_EQ((RemotePath{"nas:/", "srv/a"}).text(), "nas:/srv/a");
}

TEST(RemoteKey, NamesTheServerWhateverThePath) {
    EXPECT_EQ(remoteKey("nas:/srv/a"), "nas:");
    EXPECT_EQ(remoteKey("nas:b"), "nas:");
    EXPECT_EQ(remoteKey("nas:"), "nas:");
    EXPECT_EQ(remoteKey(":sftp,host=h,port=2:/p"), ":sftp,host=h,port=2:");
    EXPECT_EQ(remoteKey("/"), "");
    EXPECT_EQ(remoteKey("/tmp/x"), "");
}
