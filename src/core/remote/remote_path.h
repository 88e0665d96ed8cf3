#pragma once
// Location texts that name a place on a remote reached through rclone, and the two parts rclone's
// remote control addresses it by: the file system ("fs") and the path below it ("remote").
//
//   "nas:backup/"                            fs "nas:"               path "backup/"
//   "nas:/srv/backup"                        fs "nas:/"              path "srv/backup/"
//   ":sftp,host=127.0.0.1,port=2022:docs"    fs ":sftp,host=127.0.0.1,port=2022:"   path "docs/"
//   ":webdav,url='http://h:8080/':x/y/"      fs ":webdav,url='http://h:8080/':"     path "x/y/"
//   ":memory:" / ":local:/tmp/b/"            fs ":memory:" / ":local:/"             path "" / "tmp/b/"
//   "/home/x", "./a:b", "a/b:c", "notes"     local paths, never remotes
//   "C:\backup"                              invalid: a Windows drive path
//
// A leading "/" of the path stays with the fs: on SFTP and FTP "nas:/srv" is the server's /srv while
// "nas:srv" lies in the login folder, and rclone only keeps that difference in the fs (measured with
// rclone 1.60: fs ":sftp,...:" with remote "/tmp/x" is "directory not found").
//
// A text is a remote when it starts with ":" (a remote made on the fly from a backend name and
// parameters) or with a remote name (letters, digits, "_", "-", "." and space, not starting with "-"
// or space) followed by ":" or by ",parameters:". Anything else is a local path: a "/" before the
// first ":" ("./a:b", "/tmp/a:b"), no ":" at all, or a first word rclone would not take as a name
// ("a!:b"). On Linux rclone reads "C:" as a remote named C, and so do we ("c:backup/" is the remote c);
// only "X:\..." is refused, because it can only be a Windows path pasted here.
//
// Remote texts are refused when they hold "*" (which separates fields of an action line), control
// characters, bytes that are not UTF-8 (rclone's JSON cannot carry them), "." or ".." as a path
// component, or a malformed parameter list. Parameters are checked for their shape only
// (name[=value], values quoted with ' or " when they hold "," or ":", the quote doubled inside); rclone
// judges their meaning when the remote is first used.

#include <string>
#include <string_view>

namespace paritas {

// One place on a remote as rclone's remote control addresses it.
struct RemotePath {
    std::string fs;   // rc's "fs": the remote's spec up to and with ":" and a leading "/" of the path
    std::string path; // rc's "remote": below fs, never starting with "/"; "" is the fs root; a
                      // folder may end with "/"
    // path + "/" + name (no "/" doubled); name is one component.
    RemotePath child(std::string_view name) const;
    // The folder holding path ("" for an entry at the root).
    RemotePath parent() const;
    // The last component of path ("" for the root).
    std::string name() const;
    // fs + path: the text rclone itself reads ("nas:backup/docs").
    std::string text() const { return fs + path; }
    bool operator==(const RemotePath&) const = default;
};

enum class LocationKind { Local, Remote, Invalid };

struct ParsedLocation {
    LocationKind kind = LocationKind::Local;
    // Remote only. path is normalised: no empty components, ending with "/" unless it is "".
    RemotePath remote;
    // Remote only: the configured remote's name ("nas"), or ":" and the backend of a remote made on
    // the fly (":sftp").
    std::string name;
    // Invalid only: why, in words for the user.
    std::string reason;
    // The location's text as locations are written: fs + path, ending with "/" unless the path is
    // the fs root ("nas:backup/", "nas:", ":local:/tmp/b/").
    std::string text() const { return remote.text(); }
};

ParsedLocation parseLocation(std::string_view text);

// A well-formed UTF-8 sequence throughout (no overlong forms, no surrogates).
bool isUtf8(std::string_view text);

// The text of a remote location as runs, jobs and the window write it: fs + path, ending with "/"
// ("nas:backup/", ":local:/tmp/b/", "nas:/"). Empty, with `why` in words for the user, for a text that
// is no valid remote, or that names the top of a remote without a "/" ("nas:", ":memory:"): the
// planners make paths by appending to a location's text, and "nas:" + "/docs" would be the server's
// /docs, another folder than "nas:docs".
std::string remoteLocationText(std::string_view text, std::string* why = nullptr);
inline bool isRemoteLocation(std::string_view text) {
    return parseLocation(text).kind == LocationKind::Remote;
}

} // namespace paritas
