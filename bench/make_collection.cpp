// SPDX-License-Identifier: MIT
// Builds a synthetic archive collection for the Make-list and Save-diz
// benchmarks: real ZIP archives written with libzip, spread over nested
// folders of about 200 files, most with a FILE_ID.DIZ of 1 to 10 lines (some
// drawn with DOS box characters), some without, mixed with the other files
// such collections hold (.txt, .arj, .lzh, .url shortcuts). Everything is
// decided by a seeded generator, so the same seed gives the same tree, dates
// included.
//
//   vexlo32_bench_gen collection OUT_DIR N [SEED]
//   vexlo32_bench_gen big OUT_DIR COUNT [SEED]   (COUNT archives of 1 MiB, flat)
//   vexlo32_bench_gen drop DIR   (drops the pages of every file under DIR from
//                                 the page cache, for a cold-cache run)
//
// Members are mostly word text, so 100,000 archives take about 1.3 GB.

#include <zip.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <malloc.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

namespace {

// splitmix64: small, fast and the same on every machine.
class Random {
public:
    explicit Random(uint64_t seed) : m_state(seed) {}
    uint64_t next()
    {
        uint64_t z = (m_state += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    // Uniform in [lo, hi].
    int range(int lo, int hi) { return lo + int(next() % uint64_t(hi - lo + 1)); }
    bool chance(int percent) { return range(1, 100) <= percent; }

private:
    uint64_t m_state;
};

const char* const kWords[] = {
    "the",    "game",    "utility",    "version",  "shareware", "registered", "dos",      "windows",
    "sound",  "blaster", "vga",        "ega",      "support",   "levels",     "new",      "fixed",
    "bug",    "release", "player",     "mode",     "disk",      "archive",    "files",    "install",
    "copy",   "run",     "setup",      "memory",   "mouse",     "keyboard",   "joystick", "network",
    "modem",  "bbs",     "upload",     "door",     "menu",      "screen",     "colour",   "music",
    "editor", "viewer",  "text",       "graphics", "fast",      "small",      "free",     "demo",
    "full",   "pack",    "collection", "tool",     "clock",     "font",       "printer"};
constexpr int kWordCount = int(sizeof kWords / sizeof kWords[0]);

std::string words(Random& rng, int count)
{
    std::string out;
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            out += ' ';
        out += kWords[rng.range(0, kWordCount - 1)];
    }
    return out;
}

std::string upper(std::string text)
{
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    }
    return text;
}

// A pool of word text that members take slices of: compressible like the
// documentation and data files real archives hold, and cheap to make.
std::string textPool(Random& rng, size_t size)
{
    std::string pool;
    pool.reserve(size + 100);
    while (pool.size() < size) {
        pool += words(rng, rng.range(4, 14));
        pool += ".\r\n";
    }
    return pool;
}

// 1 to 10 CR LF lines; some framed with CP437 double-line box characters,
// some starting with spaces, some all upper case.
std::string makeDiz(Random& rng)
{
    const int lines = rng.range(1, 10);
    const bool boxed = rng.chance(20);
    std::string out;
    if (boxed) {
        out += "\xC9" + std::string(38, '\xCD') + "\xBB\r\n";
        for (int i = 0; i < lines; ++i) {
            std::string text = words(rng, rng.range(2, 5)).substr(0, 36);
            text.resize(36, ' ');
            out += "\xBA " + text + " \xBA\r\n";
        }
        out += "\xC8" + std::string(38, '\xCD') + "\xBC\r\n";
        return out;
    }
    for (int i = 0; i < lines; ++i) {
        std::string text = words(rng, rng.range(2, 7)).substr(0, 44);
        if (i == 0 && rng.chance(30))
            text = std::string(size_t(rng.range(1, 6)), ' ') + upper(text);
        else if (rng.chance(10))
            text = std::string(size_t(rng.range(1, 4)), '\xC4') + ' ' + text;
        out += text + "\r\n";
    }
    return out;
}

std::string makeName(Random& rng, int serial, const char* extension)
{
    char buffer[64];
    if (rng.chance(10)) {
        // A long name with spaces: needs a generated short name.
        std::snprintf(buffer, sizeof buffer, "%s %s %05d.%s", upper(words(rng, 1)).c_str(),
                      words(rng, 1).c_str(), serial, extension);
        return buffer;
    }
    std::string stem = upper(kWords[rng.range(0, kWordCount - 1)]).substr(0, 3);
    std::snprintf(buffer, sizeof buffer, "%s%05d.%s", stem.c_str(), serial % 100000, extension);
    return upper(buffer);
}

// A date between 1992 and 2003, as the files of such collections carry.
time_t makeDate(Random& rng)
{
    return time_t(694224000) + time_t(rng.next() % uint64_t(12 * 365 * 86400));
}

bool setDate(const std::string& path, time_t when)
{
    struct timeval times[2] = {{when, 0}, {when, 0}};
    return ::utimes(path.c_str(), times) == 0;
}

bool writePlain(const std::string& path, const std::string& bytes, time_t when)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size());
    ::close(fd);
    return ok && setDate(path, when);
}

struct Member {
    std::string name;
    std::string data;
    bool store = false;
};

bool writeZip(const std::string& path, std::vector<Member>& members, time_t when)
{
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive)
        return false;
    for (Member& m : members) {
        zip_source_t* source = zip_source_buffer(archive, m.data.data(), m.data.size(), 0);
        if (!source) {
            zip_discard(archive);
            return false;
        }
        const zip_int64_t index =
            zip_file_add(archive, m.name.c_str(), source, ZIP_FL_ENC_CP437 | ZIP_FL_OVERWRITE);
        if (index < 0) {
            zip_source_free(source);
            zip_discard(archive);
            return false;
        }
        zip_set_file_compression(archive, zip_uint64_t(index),
                                 m.store ? ZIP_CM_STORE : ZIP_CM_DEFLATE, m.store ? 0 : 1);
        zip_file_set_mtime(archive, zip_uint64_t(index), when, 0);
    }
    if (zip_close(archive) != 0) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), zip_strerror(archive));
        zip_discard(archive);
        return false;
    }
    return setDate(path, when);
}

const char* const kMemberNames[] = {"README.TXT",  "ORDER.FRM",  "SETUP.EXE",   "PROGRAM.EXE",
                                    "HISTORY.DOC", "VENDOR.DOC", "LICENSE.TXT", "DATA.DAT",
                                    "LEVELS.DAT",  "CONFIG.CFG", "MANUAL.DOC",  "WHATSNEW.TXT",
                                    "SOUND.VOC",   "FONT.FNT",   "INSTALL.BAT", "REGISTER.TXT"};
constexpr int kMemberNameCount = int(sizeof kMemberNames / sizeof kMemberNames[0]);

std::vector<Member> makeMembers(Random& rng, const std::string& pool)
{
    std::vector<Member> members;
    const int count = rng.range(3, 30);
    for (int i = 0; i < count; ++i) {
        Member m;
        char name[32];
        if (i < kMemberNameCount)
            std::snprintf(name, sizeof name, "%s",
                          kMemberNames[(i * 7 + count) % kMemberNameCount]);
        else
            std::snprintf(name, sizeof name, "PART%04d.DAT", i);
        m.name = name;
        const size_t length = size_t(rng.range(100, 4000));
        m.data = pool.substr(size_t(rng.next() % (pool.size() - length)), length);
        members.push_back(std::move(m));
    }
    // Most archives describe themselves at the root; the description is
    // often the first member, sometimes last or in between.
    const int kind = rng.range(1, 100);
    if (kind <= 85) {
        Member diz;
        diz.name = rng.chance(85) ? "FILE_ID.DIZ" : "file_id.diz";
        diz.data = makeDiz(rng);
        const int where = rng.chance(60) ? 0 : rng.range(0, int(members.size()));
        members.insert(members.begin() + where, std::move(diz));
    } else if (kind <= 88) {
        Member diz; // in a folder: not the archive's description
        diz.name = "DOCS/FILE_ID.DIZ";
        diz.data = makeDiz(rng);
        members.push_back(std::move(diz));
    }
    return members;
}

bool makeFolder(const std::string& path)
{
    return ::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

int makeCollection(const std::string& root, long count, uint64_t seed)
{
    Random rng(seed);
    const std::string pool = textPool(rng, 4 << 20);
    if (!makeFolder(root))
        return 1;
    // Leaf folders of about 200 files, three levels deep: areaNN/groupN/setNNN.
    const long perFolder = 200;
    const long folders = (count + perFolder - 1) / perFolder;
    long made = 0;
    int serial = 0;
    for (long f = 0; f < folders; ++f) {
        char part[64];
        std::snprintf(part, sizeof part, "/area%02ld", f / 25);
        std::string folder = root + part;
        makeFolder(folder);
        std::snprintf(part, sizeof part, "/group%ld", (f / 5) % 5);
        folder += part;
        makeFolder(folder);
        std::snprintf(part, sizeof part, "/set%04ld", f);
        folder += part;
        if (!makeFolder(folder)) {
            std::perror(folder.c_str());
            return 1;
        }
        const long here = std::min(perFolder, count - made);
        for (long i = 0; i < here; ++i, ++made, ++serial) {
            const time_t when = makeDate(rng);
            const int kind = rng.range(1, 100);
            bool ok = true;
            if (kind <= 92) {
                std::vector<Member> members = makeMembers(rng, pool);
                ok = writeZip(folder + "/" + makeName(rng, serial, "zip"), members, when);
            } else if (kind <= 96) {
                const size_t length = size_t(rng.range(200, 8000));
                ok = writePlain(folder + "/" + makeName(rng, serial, "txt"),
                                pool.substr(size_t(rng.next() % (pool.size() - length)), length),
                                when);
            } else if (kind <= 98) {
                std::string bytes = "\x60\xEA";
                bytes += pool.substr(0, size_t(rng.range(500, 6000)));
                ok =
                    writePlain(folder + "/" + makeName(rng, serial, rng.chance(50) ? "arj" : "lzh"),
                               bytes, when);
            } else {
                char name[64];
                std::snprintf(name, sizeof name, "Shortcut to Site %05d.url", serial);
                const std::string body = "[InternetShortcut]\r\nURL=http://www.example.org/" +
                                         words(rng, 1) + std::to_string(serial) + "/\r\n";
                ok = writePlain(folder + "/" + name, body, when);
            }
            if (!ok) {
                std::fprintf(stderr, "cannot write in %s\n", folder.c_str());
                return 1;
            }
        }
        if ((f + 1) % 50 == 0)
            std::fprintf(stderr, "\r%ld of %ld archives", made, count);
    }
    std::fprintf(stderr, "\r%ld archives in %ld folders under %s\n", made, folders, root.c_str());
    return 0;
}

// Archives of about 1 MiB each, for Save diz: a description and a few
// members that do not compress, stored as they are.
int makeBig(const std::string& root, long count, uint64_t seed)
{
    Random rng(seed);
    if (!makeFolder(root))
        return 1;
    for (long i = 0; i < count; ++i) {
        std::vector<Member> members;
        Member diz;
        diz.name = "FILE_ID.DIZ";
        diz.data = makeDiz(rng);
        members.push_back(std::move(diz));
        size_t left = size_t(1) << 20;
        for (int k = 0; left > 0; ++k) {
            Member m;
            char name[32];
            std::snprintf(name, sizeof name, "DATA%02d.BIN", k);
            m.name = name;
            const size_t length = std::min(left, size_t(256) << 10);
            m.data.resize(length);
            for (size_t j = 0; j + 8 <= length; j += 8) {
                const uint64_t v = rng.next();
                std::memcpy(&m.data[j], &v, 8);
            }
            m.store = true;
            left -= length;
            members.push_back(std::move(m));
        }
        char name[32];
        std::snprintf(name, sizeof name, "/BIG%05ld.ZIP", i);
        if (!writeZip(root + name, members, makeDate(rng))) {
            std::fprintf(stderr, "cannot write %s%s\n", root.c_str(), name);
            return 1;
        }
    }
    std::fprintf(stderr, "%ld archives of 1 MiB in %s\n", count, root.c_str());
    return 0;
}

// posix_fadvise(DONTNEED) on every regular file: its clean pages leave the
// page cache, so the next run reads them from the disk again (the folders'
// own blocks and inodes stay cached; only the root can drop those).
int dropPage(const char* path, const struct stat* st, int type, struct FTW*)
{
    if (type != FTW_F || !S_ISREG(st->st_mode))
        return 0;
    const int fd = ::open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return 0;
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
    return 0;
}

int dropPages(const std::string& root)
{
    return ::nftw(root.c_str(), dropPage, 64, FTW_PHYS) == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "drop")
        return dropPages(argv[2]);
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s collection|big OUT_DIR N [SEED] | drop DIR\n", argv[0]);
        return 2;
    }
    // Every deflated member sets up and clears a fresh compressor state of a
    // few hundred KiB; kept in the heap instead of mapped and unmapped each
    // time, that costs no page faults.
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    mallopt(M_TOP_PAD, 16 << 20);
    const std::string mode = argv[1];
    const std::string root = argv[2];
    const long count = std::strtol(argv[3], nullptr, 10);
    const uint64_t seed = argc > 4 ? std::strtoull(argv[4], nullptr, 10) : 1998;
    if (count <= 0)
        return 2;
    if (mode == "collection")
        return makeCollection(root, count, seed);
    if (mode == "big")
        return makeBig(root, count, seed);
    std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
    return 2;
}
