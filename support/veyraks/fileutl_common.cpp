// Lexical pathname normalisation for fileutl_abspn, by POSIX and by Windows
// rules, and the copy of a result into a caller's buffer.
#include <cstring>
#include <vector>

#include "fileutl_internal.h"

namespace veyraks_fileutl {

namespace {

// Applies the components of path (split at any of seps) to parts: "." and
// empty components are dropped, ".." drops the last part when there is one.
void apply_components(std::vector<std::string_view> &parts, std::string_view path,
                      std::string_view seps) {
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t end = path.find_first_of(seps, pos);
        if (end == std::string_view::npos) end = path.size();
        std::string_view part = path.substr(pos, end - pos);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        pos = end + 1;
    }
}

// root followed by the parts, each after one sep; the bare root gets one
// sep so that it stays a root ("/", "C:\").
std::string join(std::string_view root, const std::vector<std::string_view> &parts, char sep) {
    std::string out(root);
    if (parts.empty()) {
        out += sep;
        return out;
    }
    for (std::string_view part : parts) {
        out += sep;
        out += part;
    }
    return out;
}

constexpr std::string_view kWindowsSeps = "\\/";

bool is_windows_sep(char c) { return c == '\\' || c == '/'; }

bool is_drive_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

char lower_ascii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// A Windows path split into its root ("C:" or "\\server\share") and the
// rest, and how the rest relates to a current directory.
struct WindowsPath {
    enum class Kind { absolute, drive_relative, rooted, relative, malformed };
    Kind kind = Kind::malformed;
    std::string root;       // "C:" or "\\server\share" (absolute, drive_relative)
    std::string_view rest;  // what follows the root (or the whole relative path)
};

WindowsPath split_windows(std::string_view path) {
    WindowsPath out;
    if (path.size() >= 2 && is_windows_sep(path[0]) && is_windows_sep(path[1])) {
        // UNC: two separators, the server, one separator, the share.
        std::size_t server_end = path.find_first_of(kWindowsSeps, 2);
        if (server_end == std::string_view::npos || server_end == 2) return out;
        std::size_t share_end = path.find_first_of(kWindowsSeps, server_end + 1);
        if (share_end == std::string_view::npos) share_end = path.size();
        if (share_end == server_end + 1) return out;
        out.kind = WindowsPath::Kind::absolute;
        out.root = "\\\\";
        out.root += path.substr(2, server_end - 2);
        out.root += '\\';
        out.root += path.substr(server_end + 1, share_end - server_end - 1);
        out.rest = path.substr(share_end);
        return out;
    }
    if (path.size() >= 2 && is_drive_letter(path[0]) && path[1] == ':') {
        out.root = std::string(path.substr(0, 2));
        out.rest = path.substr(2);
        out.kind = (!out.rest.empty() && is_windows_sep(out.rest[0]))
                       ? WindowsPath::Kind::absolute
                       : WindowsPath::Kind::drive_relative;
        return out;
    }
    out.rest = path;
    out.kind = (!path.empty() && is_windows_sep(path[0])) ? WindowsPath::Kind::rooted
                                                         : WindowsPath::Kind::relative;
    return out;
}

}  // namespace

std::optional<std::string> normalize_posix(std::string_view cwd, std::string_view path) {
    if (path.empty()) return std::nullopt;
    std::vector<std::string_view> parts;
    if (path[0] != '/') {
        if (cwd.empty() || cwd[0] != '/') return std::nullopt;
        apply_components(parts, cwd, "/");
    }
    apply_components(parts, path, "/");
    return join("", parts, '/');
}

std::optional<std::string> normalize_windows(std::string_view cwd, std::string_view path) {
    if (path.empty()) return std::nullopt;
    WindowsPath target = split_windows(path);
    if (target.kind == WindowsPath::Kind::malformed) return std::nullopt;

    std::vector<std::string_view> parts;
    std::string root;
    if (target.kind == WindowsPath::Kind::absolute) {
        root = target.root;
    } else {
        WindowsPath base = split_windows(cwd);
        bool base_usable = base.kind == WindowsPath::Kind::absolute;
        if (target.kind == WindowsPath::Kind::drive_relative) {
            // Against cwd when it lies on the same drive, else the drive's root.
            if (base_usable && base.root.size() == 2 &&
                lower_ascii(base.root[0]) == lower_ascii(target.root[0])) {
                root = base.root;
                apply_components(parts, base.rest, kWindowsSeps);
            } else {
                root = target.root;
            }
        } else {
            if (!base_usable) return std::nullopt;
            root = base.root;
            if (target.kind == WindowsPath::Kind::relative) {
                apply_components(parts, base.rest, kWindowsSeps);
            }
        }
    }
    apply_components(parts, target.rest, kWindowsSeps);
    return join(root, parts, '\\');
}

bool copy_to_buffer(std::string_view text, char *buf, int size) {
    if (!buf || size <= 0) return false;
    if (text.size() >= static_cast<std::size_t>(size)) {
        buf[0] = '\0';
        return false;
    }
    std::memcpy(buf, text.data(), text.size());
    buf[text.size()] = '\0';
    return true;
}

}  // namespace veyraks_fileutl
