// SPDX-License-Identifier: MIT
// The least work a catalogue of a collection can do, for comparison: walk
// the tree, and for every file whose name ends in "zip" open it with libzip
// and read its root FILE_ID.DIZ into memory. Nothing is written; a count and
// a checksum are printed so that no step can be left out.
//
//   vexlo32_bench_baseline FOLDER

#include <zip.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <string>
#include <strings.h>
#include <vector>

namespace {

struct Totals {
    long folders = 0;
    long files = 0;
    long archives = 0;
    long descriptions = 0;
    uint64_t checksum = 0;
};

void readDescription(const std::string& path, Totals& totals)
{
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY, &error);
    if (!archive)
        return;
    // Without ZIP_FL_NODIR the whole stored name must match: root only.
    const zip_int64_t index = zip_name_locate(archive, "file_id.diz", ZIP_FL_NOCASE);
    if (index >= 0) {
        if (zip_file_t* file = zip_fopen_index(archive, zip_uint64_t(index), 0)) {
            char buffer[8192];
            zip_int64_t got;
            while ((got = zip_fread(file, buffer, sizeof buffer)) > 0) {
                for (zip_int64_t i = 0; i < got; ++i)
                    totals.checksum = totals.checksum * 31 + uint8_t(buffer[i]);
            }
            zip_fclose(file);
            ++totals.descriptions;
        }
    }
    zip_discard(archive);
}

void walk(const std::string& folder, Totals& totals)
{
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    ++totals.folders;
    std::vector<std::string> subFolders;
    while (dirent* ent = ::readdir(dir)) {
        if (ent->d_name[0] == '.')
            continue;
        const std::string path = folder + "/" + ent->d_name;
        if (ent->d_type == DT_DIR) {
            subFolders.push_back(path);
            continue;
        }
        ++totals.files;
        const size_t n = std::strlen(ent->d_name);
        if (n >= 3 && strcasecmp(ent->d_name + n - 3, "zip") == 0) {
            ++totals.archives;
            readDescription(path, totals);
        }
    }
    ::closedir(dir);
    for (const std::string& sub : subFolders)
        walk(sub, totals);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    Totals totals;
    walk(argv[1], totals);
    std::printf("%ld folders, %ld files, %ld archives, %ld descriptions, checksum %016llx\n",
                totals.folders, totals.files, totals.archives, totals.descriptions,
                static_cast<unsigned long long>(totals.checksum));
    return 0;
}
