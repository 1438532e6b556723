// SPDX-License-Identifier: MIT
// Descriptions read in memory must list exactly as descriptions extracted
// through the temporary file: the same bytes for a generated tree of real
// archives of every kind the list tells apart, in both layouts and both
// description modes. And the aliases of big folders, made with the search
// that resumes per basis, must be the ones the plain search gives.

#include "platform/ShortName.h"
#include "test_catalog_support.h"

#include <QRandomGenerator>

#include <QSet>

using namespace vexlo;
using namespace vexlo::test;

namespace {

// A tree like a small collection: nested folders, archives with a root
// description in either letter case, none, one in a sub-folder only, an empty
// one, DOS box characters, lone-CR and lone-LF line ends, damaged and
// non-archives under a .zip name, and other files beside them.
bool makeTree(const QString& root, quint32 seed)
{
    QRandomGenerator rng(seed);
    const QStringList folders = {"",       "/Area1",        "/Area1/Sub A", "/Area1/sub b",
                                 "/Area2", "/Area2/deep/er"};
    int serial = 0;
    for (const QString& folder : folders) {
        if (!QDir().mkpath(root + folder))
            return false;
        for (int i = 0; i < 15; ++i, ++serial) {
            const QDateTime when = kSeptember16.addDays(serial * 37).addSecs(serial * 611);
            const QString base =
                root + folder + "/" +
                (serial % 7 == 0 ? QString("Long Name %1 here").arg(serial)
                                 : QString("ARC%1").arg(serial, 5, 10, QChar('0')));
            std::vector<Member> members;
            for (int k = 0; k < int(rng.bounded(1, 6)); ++k)
                members.push_back(
                    {QString("PART%1.TXT").arg(k),
                     QByteArray("text of a member ").repeated(int(rng.bounded(1, 40))),
                     k % 2 == 0});
            QByteArray diz;
            const int lines = int(rng.bounded(1, 9));
            for (int l = 0; l < lines; ++l) {
                if (l == 0 && serial % 3 == 0)
                    diz += "   ";
                diz +=
                    (l % 3 == 1 ? QByteArray("\xC9\xCD\xCD\xBB Box ") : QByteArray("Some TEXT "));
                diz += QByteArray::number(serial * 10 + l);
                diz += (serial % 11 == 5 ? "\r" : serial % 11 == 6 ? "\n" : "\r\n");
                if (serial % 5 == 2 && l == 0)
                    diz += "\r\n"; // an empty line
            }
            bool ok = true;
            switch (serial % 10) {
            case 0: // no description
                ok = makeZip(base + ".zip", members);
                break;
            case 1: // only in a sub-folder of the archive
                members.push_back({"DOCS/FILE_ID.DIZ", diz});
                ok = makeZip(base + ".zip", members);
                break;
            case 2: // empty
                members.insert(members.begin(), {"FILE_ID.DIZ", QByteArray()});
                ok = makeZip(base + ".zip", members);
                break;
            case 3: // damaged: the archive's end is gone
                members.insert(members.begin(), {"FILE_ID.DIZ", diz});
                ok = makeZip(base + ".zip", members);
                if (ok) {
                    QByteArray bytes = readBytes(base + ".zip");
                    bytes.chop(30);
                    ok = writeBytes(base + ".zip", bytes);
                }
                break;
            case 4: // not an archive at all
                ok = writeBytes(base + ".ZIP", "plain text with a zip name");
                break;
            case 5:
                ok = writeBytes(base + ".arj", QByteArray("\x60\xEA") + diz);
                break;
            case 6:
                ok = writeBytes(base + ".url", "[InternetShortcut]\r\nURL=http://example.org/" +
                                                   QByteArray::number(serial) + "\r\n");
                break;
            default: // a description at the root, named either way
                members.insert(members.begin() + int(rng.bounded(0, int(members.size()) + 1)),
                               {serial % 2 ? "FILE_ID.DIZ" : "file_id.diz", diz});
                ok = makeZip(base + (serial % 4 ? ".ZIP" : ".zip"), members);
                break;
            }
            if (!ok)
                return false;
            const QString written = QDir(root + folder)
                                        .entryList({QFileInfo(base).fileName() + ".*"}, QDir::Files)
                                        .value(0);
            if (written.isEmpty() || !setModified(root + folder + "/" + written, when))
                return false;
        }
    }
    return true;
}

// A host that notes whether the temporary description file was ever there
// while the run yielded.
struct WatchingHost : FakeHost {
    bool sawTemporaryFile = false;
    WatchingHost()
    {
        onYield = [this](int) {
            if (platform::exists(platform::tempDizPath()))
                sawTemporaryFile = true;
        };
    }
};

QByteArray listWith(const QString& root, const QString& listFile, bool longFormat, bool multiLine,
                    bool inMemory, bool* sawTemporaryFile)
{
    RunControl run;
    run.keepRunning = true;
    catalog::ListOptions options;
    options.multiLineDiz = multiLine;
    WatchingHost host;
    host.longFormat = longFormat;
    FolderListing pane;
    diz::ZipComponent zip;
    catalog::ListWriter writer;
    catalog::MemoryDescriptionReader memory(zip);
    catalog::CatalogJob job{run, options, pane, zip, writer, host, inMemory ? &memory : nullptr};
    const catalog::MakeListResult result =
        catalog::MakeListRun(job, listFile, platform::lowerPath(root), root);
    if (sawTemporaryFile)
        *sawTemporaryFile = host.sawTemporaryFile;
    if (!result.ok)
        return "(" + result.errorText.toUtf8() + ")";
    return readBytes(listFile);
}

// The alias search without the per-basis memory: the first free number from
// 1 up, for every name, in pane order, after the valid 8.3 names kept.
QStringList plainAliases(const QStringList& names)
{
    const QStringList fast = platform::shortNamesFor(names);
    QStringList out(names.size());
    QSet<QString> taken;
    QList<qsizetype> order;
    for (qsizetype i = 0; i < names.size(); ++i)
        order.append(i);
    std::stable_sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
        const int folded = names.at(a).compare(names.at(b), Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : names.at(a) < names.at(b);
    });
    for (const qsizetype i : order) {
        if (platform::isValidShortName(names.at(i)) && !taken.contains(names.at(i).toUpper())) {
            out[i] = names.at(i).toUpper();
            taken.insert(out[i]);
        }
    }
    for (const qsizetype i : order) {
        if (!out.at(i).isEmpty())
            continue;
        // Basis and extension as the alias shows them: what the fast result
        // has before its tail, and after its dot.
        const QString alias = fast.at(i);
        const qsizetype tilde = alias.lastIndexOf(u'~');
        const qsizetype dot = alias.indexOf(u'.', tilde);
        const QString extension = dot < 0 ? QString() : alias.mid(dot);
        // Rebuild the 6-character basis from the name itself.
        QString basis;
        QString text = names.at(i);
        text.remove(u' ');
        while (text.startsWith(u'.'))
            text.remove(0, 1);
        const qsizetype lastDot = text.lastIndexOf(u'.');
        QString stem = lastDot < 0 ? text : text.left(lastDot);
        stem.remove(u'.');
        for (QChar c : stem)
            basis += (c.unicode() < 0x80 &&
                      (c.isLetterOrNumber() || QString("$%'-_@~`!(){}^#&").contains(c)))
                         ? c.toUpper()
                         : QChar(u'_');
        if (basis.isEmpty())
            basis = "_";
        for (int number = 1;; ++number) {
            const QString tail = "~" + QString::number(number);
            const QString candidate = basis.left(qMax(1, int(8 - tail.size()))) + tail + extension;
            if (!taken.contains(candidate)) {
                out[i] = candidate;
                taken.insert(candidate);
                break;
            }
        }
    }
    return out;
}

} // namespace

class TestCatalogMemory : public QObject {
    Q_OBJECT

private slots:
    void memoryListsAsExtraction_data()
    {
        QTest::addColumn<bool>("longFormat");
        QTest::addColumn<bool>("multiLine");
        QTest::newRow("short, first line") << false << false;
        QTest::newRow("short, multi-line") << false << true;
        QTest::newRow("long, first line") << true << false;
        QTest::newRow("long, multi-line") << true << true;
    }

    void memoryListsAsExtraction()
    {
        QFETCH(bool, longFormat);
        QFETCH(bool, multiLine);
        ListFixture fx;
        QVERIFY(makeTree(fx.folder, 1998));

        const QByteArray extracted =
            listWith(fx.folder, fx.listFile, longFormat, multiLine, false, nullptr);
        bool sawTemporaryFile = true;
        const QByteArray inMemory = listWith(fx.folder, fx.root.path() + "/list2.txt", longFormat,
                                             multiLine, true, &sawTemporaryFile);

        // The tree must really hold every kind of entry, or the comparison
        // proves little.
        QVERIFY(extracted.contains("** CRC Error **"));
        QVERIFY(extracted.contains("Some text"));
        QVERIFY(extracted.contains("http://example.org/"));
        QVERIFY(extracted.contains("sub b"));
        QCOMPARE(extracted.count("\r\n\r\n"), 6); // one section per folder
        if (multiLine)
            QVERIFY(extracted.contains("\xC9\xCD\xCD\xBB Box "));

        QCOMPARE(inMemory, extracted);
        QVERIFY(!sawTemporaryFile);
        QVERIFY(!platform::exists(platform::tempDizPath()));
    }

    void aStaleTemporaryFileIsStillRemovedAtTheFolderStart()
    {
        ListFixture fx;
        QVERIFY(makeZip(fx.folder + "/a.zip", {{"FILE_ID.DIZ", "Alpha\r\n"}}));
        QVERIFY(writeBytes(platform::tempDizPath(), "left by Get diz"));
        BuildRun run;
        catalog::MemoryDescriptionReader memory(run.zip);
        run.descriptions = &memory;
        const QByteArray out = run.build(fx.folder, fx.listFile);
        QVERIFY(out.contains("Alpha"));
        QVERIFY(!platform::exists(platform::tempDizPath()));
        // The component was told about the archive as an extraction is.
        QCOMPARE(platform::lastComponent(run.zip.archivePath()), QString("a.zip"));
        QCOMPARE(run.zip.memberMask(), QString("file_id.diz"));
    }

    void aliasesOfBigFoldersMatchThePlainSearch_data()
    {
        QTest::addColumn<QStringList>("names");
        QStringList shortcuts, mixed, sameStem;
        for (int i = 0; i < 3000; ++i)
            shortcuts << QString("Shortcut to Site %1.url").arg(i, 5, 10, QChar('0'));
        for (int i = 0; i < 1500; ++i) {
            mixed << QString("Program Files %1.zip").arg(i) << QString("PROGRA~%1.ZIP").arg(i % 40)
                  << QString("Progra%1.zip").arg(i);
        }
        for (int i = 0; i < 200; ++i)
            sameStem << QString("longfilename.z%1").arg(i % 3) << QString("longfil%1.zip").arg(i);
        QTest::newRow("3000 shortcuts") << shortcuts;
        QTest::newRow("aliases that collide with kept names") << mixed;
        QTest::newRow("stems shared across extensions") << sameStem;
    }

    void aliasesOfBigFoldersMatchThePlainSearch()
    {
        QFETCH(QStringList, names);
        const QStringList aliases = platform::shortNamesFor(names);
        QCOMPARE(aliases, plainAliases(names));
        QCOMPARE(QSet<QString>(aliases.begin(), aliases.end()).size(), aliases.size());
    }
};

QTEST_GUILESS_MAIN(TestCatalogMemory)
#include "test_catalog_memory.moc"
