#include "core/remote/remote_path.h"

#include <cstdint>
#include <vector>

namespace paritas {

namespace {

bool isNameChar(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' ||
           c == '-' || c == '.' || c == ' ';
}

bool isParameterNameChar(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}


ParsedLocation invalid(std::string reason) {
    ParsedLocation parsed;
    parsed.kind = LocationKind::Invalid;
    parsed.reason = std::move(reason);
    return parsed;
}

// Reads ",name[=value]..." from `at` up to the ":" that ends the remote's spec; returns the index of
// that ":", or npos when the list is malformed.
std::size_t skipParameters(std::string_view text, std::size_t at) {
    while (at < text.size() && text[at] == ',') {
        ++at;
        const std::size_t nameStart = at;
        while (at < text.size() && isParameterNameChar(text[at]))
            ++at;
        if (at == nameStart)
            return std::string_view::npos;
        if (at < text.size() && text[at] == '=') {
            ++at;
            if (at < text.size() && (text[at] == '\'' || text[at] == '"')) {
                const char quote = text[at++];
                for (;;) {
                    if (at >= text.size())
                        return std::string_view::npos;
                    if (text[at] == quote) {
                        if (at + 1 < text.size() && text[at + 1] == quote) {
                            at += 2;
                            continue;
                        }
                        ++at;
                        break;
                    }
                    ++at;
                }
            } else {
                while (at < text.size() && text[at] != ',' && text[at] != ':')
                    ++at;
            }
        }
    }
    return at < text.size() && text[at] == ':' ? at : std::string_view::npos;
}

// Splits a remote's path into normalised components; false for "." or "..".
bool normalisedPath(std::string_view path, std::string& out) {
    out.clear();
    std::size_t at = 0;
    while (at <= path.size()) {
        std::size_t end = path.find('/', at);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view component = path.substr(at, end - at);
        if (component == "." || component == "..")
            return false;
        if (!component.empty()) {
            out.append(component);
            out.push_back('/');
        }
        at = end + 1;
    }
    return true;
}

} // namespace

// A well-formed UTF-8 sequence throughout (no overlong forms, no surrogates).
bool isUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        uint32_t point = 0;
        if (c < 0x80) {
            ++i;
            continue;
        }
        if ((c & 0xe0) == 0xc0) {
            length = 2;
            point = c & 0x1f;
        } else if ((c & 0xf0) == 0xe0) {
            length = 3;
            point = c & 0x0f;
        } else if ((c & 0xf8) == 0xf0) {
            length = 4;
            point = c & 0x07;
        } else {
            return false;
        }
        if (i + length > text.size())
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xc0) != 0x80)
                return false;
            point = (point << 6) | (next & 0x3f);
        }
        const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (point < smallest[length] || point > 0x10ffff || (point >= 0xd800 && point <= 0xdfff))
            return false;
        i += length;
    }
    return true;
}

RemotePath RemotePath::child(std::string_view name) const {
    RemotePath result{fs, path};
    if (!result.path.empty() && result.path.back() != '/')
        result.path.push_back('/');
    result.path.append(name);
    return result;
}

RemotePath RemotePath::parent() const {
    std::string_view p = path;
    while (!p.empty() && p.back() == '/')
        p.remove_suffix(1);
    const std::size_t slash = p.rfind('/');
    return {fs, slash == std::string_view::npos ? std::string() : std::string(p.substr(0, slash))};
}

std::string RemotePath::name() const {
    std::string_view p = path;
    while (!p.empty() && p.back() == '/')
        p.remove_suffix(1);
    const std::size_t slash = p.rfind('/');
    return std::string(slash == std::string_view::npos ? p : p.substr(slash + 1));
}

ParsedLocation parseLocation(std::string_view text) {
    if (text.empty() || text.front() == '/')
        return {};
    const bool onTheFly = text.front() == ':';
    std::size_t at = onTheFly ? 1 : 0;
    while (at < text.size() && isNameChar(text[at]))
        ++at;
    const std::string_view name = text.substr(onTheFly ? 1 : 0, at - (onTheFly ? 1 : 0));
    const bool nameEnds = at < text.size() && (text[at] == ':' || text[at] == ',');
    if (!onTheFly && (!nameEnds || name.empty() || name.front() == '-' || name.front() == ' '))
        return {}; // "./a:b", "a/b:c", "notes", "a!:b": relative local paths
    if (onTheFly && (!nameEnds || name.empty() || name.front() == '-' || name.front() == ' '))
        return invalid("a remote made on the fly is written \":backend[,parameter=value...]:path\"");
    if (!onTheFly && name.size() == 1 && text[at] == ':' && at + 1 < text.size() && text[at + 1] == '\\')
        return invalid("a Windows drive path; on Linux a folder is written like /media/disk/folder");

    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f)
            return invalid("a remote location cannot hold control characters");
        if (c == '*')
            return invalid("a remote location cannot hold \"*\"");
    }
    if (!isUtf8(text))
        return invalid("a remote location must be UTF-8 text");

    const std::size_t colon = text[at] == ':' ? at : skipParameters(text, at);
    if (colon == std::string_view::npos)
        return invalid("the remote's parameters are malformed: write name=value, separated by \",\", "
                       "and quote a value holding \",\" or \":\" with ' or \"");

    std::string_view path = text.substr(colon + 1);
    ParsedLocation parsed;
    parsed.kind = LocationKind::Remote;
    if (onTheFly)
        parsed.name.push_back(':');
    parsed.name.append(name);
    parsed.remote.fs = std::string(text.substr(0, colon + 1));
    if (!path.empty() && path.front() == '/') {
        parsed.remote.fs.push_back('/');
        while (!path.empty() && path.front() == '/')
            path.remove_prefix(1);
    }
    if (!normalisedPath(path, parsed.remote.path))
        return invalid("a remote location cannot hold \".\" or \"..\" as a folder name");
    return parsed;
}

std::string remoteLocationText(std::string_view text, std::string* why) {
    const ParsedLocation parsed = parseLocation(text);
    if (parsed.kind != LocationKind::Remote) {
        if (why)
            *why = parsed.kind == LocationKind::Invalid ? parsed.reason : "not a remote location";
        return {};
    }
    const std::string written = parsed.text();
    if (written.empty() || written.back() != '/') {
        if (why)
            *why = "name a folder on the remote (" + written + "backup, or " + written +
                   "/ for the server's root), not the remote alone";
        return {};
    }
    return written;
}

} // namespace paritas
