// SPDX-License-Identifier: MIT
// The list builder on hostile file contents: the input is an Internet
// shortcut ("Shortcut to fuzz.url") and, through a stand-in description
// source, the FILE_ID.DIZ of an archive in the same folder. The first byte
// picks the layout and the description mode, so every path that turns file
// bytes into list lines runs. The list must come out whole: it ends in CR
// LF and holds the folder line.

#include "catalog/ListBuilder.h"
#include "catalog/ListWriter.h"
#include "diz/FolderListing.h"
#include "diz/ZipComponent.h"
#include "fuzz_support.h"

using namespace vexlo;

namespace {

class QuietHost : public catalog::CatalogHost {
public:
    bool longFormat = true;
    bool longFileFormat() const override { return longFormat; }
    void yieldToEvents() override {}
    void setProgress(int) override {}
    void setTitle(const QString&) override {}
    void setPathPanel(const QString&) override {}
    void setCurrentFolder(const QString&) override {}
};

class GivenDescription : public catalog::DescriptionReader {
public:
    QByteArray bytes;
    catalog::ArchiveDescription read(const QString&) override
    {
        catalog::ArchiveDescription d;
        d.present = true;
        d.bytes = bytes;
        return d;
    }
};

struct Paths {
    QString folder;
    QString shortcut;
    QString archive;
    QString list;
};

const Paths& paths()
{
    static const Paths p = [] {
        const QString root = fuzz::scratchFolder();
        Paths out;
        out.folder = root + "/listed";
        out.shortcut = out.folder + "/Shortcut to fuzz.url";
        out.archive = out.folder + "/game.zip";
        out.list = root + "/list.txt";
        QDir().mkpath(out.folder);
        QDir().mkpath(root + "/program");
        platform::setUserFoldersOverride(root + "/program");
        platform::writeFile(out.archive, QByteArray());
        return out;
    }();
    return p;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const Paths& p = paths();
    const QByteArray input = fuzz::bytesOf(data, size);
    if (!platform::writeFile(p.shortcut, input))
        fuzz::fail("cannot write the shortcut");

    const unsigned char mode = size > 0 ? data[0] : 0;
    RunControl run;
    run.keepRunning = true;
    catalog::ListOptions options;
    options.readOnlyDrive = true;
    options.multiLineDiz = (mode & 1) != 0;
    QuietHost host;
    host.longFormat = (mode & 2) != 0;
    FolderListing pane;
    pane.setFolderPath(p.folder);
    diz::ZipComponent zip;
    catalog::ListWriter writer;
    GivenDescription descriptions;
    descriptions.bytes = input;
    catalog::CatalogJob job{run, options, pane, zip, writer, host, &descriptions};

    if (!writer.open(p.list))
        fuzz::fail("cannot create the list");
    catalog::BuildFolderEntries(job);
    if (!writer.close())
        fuzz::fail("cannot write the list");

    QByteArray list;
    platform::readFile(p.list, list);
    if (!list.endsWith("\r\n"))
        fuzz::fail("the list does not end with a complete line");
    if (!list.contains(platform::encodeName(platform::lowerPath(p.folder))))
        fuzz::fail("the folder line is missing");
    if (!list.contains("GAME.ZIP") && !list.contains("GAME~"))
        fuzz::fail("the archive's entry is missing");
    return 0;
}
