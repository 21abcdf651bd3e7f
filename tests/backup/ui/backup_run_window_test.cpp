// SPDX-License-Identifier: GPL-3.0-or-later
// Real backup runs under the real progress window, on real files: a cancel answered No and
// one answered Yes in the middle of a large file, a close request while the file lists are
// saved, and a whole program run from "&Backup" that makes the same archives as the
// unattended mode.
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <thread>

#include "backup/backup_cli.h"
#include "backup/backup_engine.h"
#include "backup/backup_startup.h"
#include "backup/bookkeeping.h"
#include "backup/current_state.h"
#include "backup/kill_point_for_tests.h"
#include "backup/ui/backup_app.h"
#include "backup/ui/backup_progress_dialog.h"
#include "backup/ui/job_selection_dialog.h"
#include "backup/ui/show_progress_window.h"
#include "platform/tick.h"
#include "tests/backup/backup_test_support.h"
#include "tests/support/modal_windows.h"
#include "tests/support/temp_folder.h"
#include "tests/support/tools.h"
#include "zip/zip_archive_file.h"

using namespace halvex;
namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kSourceTime = 1600000001;

// Calls act once with the next message box titled `caption`, from the event loop of whatever
// waits for it; gives up after giveUpMs. The watch ends with its parent.
void WhenBox(const QString& caption, std::function<void(QMessageBox*)> act, QObject* parent, int giveUpMs = 60000) {
    auto* timer = new QTimer(parent);
    const std::uint32_t started = platform::TickCountMs();
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, started, giveUpMs, caption, act = std::move(act)] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        const bool found = box != nullptr && box->windowTitle() == caption;
        if (!found && platform::TickCountMs() - started < static_cast<std::uint32_t>(giveUpMs)) return;
        timer->stop();
        timer->deleteLater();
        if (found) act(box);
    });
    timer->start();
}

// The message boxes of one test: the expected ones are acted on, and any error box is noted
// and answered, so that a wrong turn fails the test instead of leaving it waiting.
class Boxes : public QObject {
public:
    Boxes() {
        auto* errorWatch = new QTimer(this);
        errorWatch->setInterval(10);
        connect(errorWatch, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr || box->windowTitle() != QStringLiteral("Error")) return;
            errors << box->text();
            for (QMessageBox::StandardButton way : {QMessageBox::Ok, QMessageBox::Cancel, QMessageBox::Ignore})
                if (QAbstractButton* button = box->button(way)) return button->click();
        });
        errorWatch->start();
    }
    void When(const QString& caption, std::function<void(QMessageBox*)> act) { WhenBox(caption, std::move(act), this); }
    void Confirm(const QString& caption) {
        When(caption, [](QMessageBox* box) { box->button(QMessageBox::Ok)->click(); });
    }

    QStringList errors;
};

struct SeenBox {
    QString caption, text;
    bool ownedByProgressWindow = false;
};

SeenBox Seen(QMessageBox* box) {
    return {box->windowTitle(), box->text(), qobject_cast<BackupProgressDialog*>(box->parentWidget()) != nullptr};
}

// The progress window while it is up (window thread only).
BackupProgressDialog* ProgressWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* window = qobject_cast<BackupProgressDialog*>(widget); window && window->isVisible()) return window;
    return nullptr;
}

QString ShownText(ProgressText line) {
    BackupProgressDialog* window = ProgressWindow();
    return window ? window->TextLabel(line)->text() : QStringLiteral("(no progress window)");
}

// From the run's thread: work on the window thread, waiting for it, or posted.
void OnWindowThread(const std::function<void()>& work) {
    QMetaObject::invokeMethod(qApp, work, Qt::BlockingQueuedConnection);
}
void PostToWindowThread(const std::function<void()>& work) {
    QMetaObject::invokeMethod(qApp, work, Qt::QueuedConnection);
}

// From the run's thread: waits until the window thread has set the flag.
bool WaitFor(const std::atomic<bool>& flag) {
    for (int i = 0; i < 12000 && !flag; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return flag;
}

// Sets the run's test-point hook while it lives.
class PointHook {
public:
    explicit PointHook(std::function<void(const char*)> hook) { SetTestPointHook(std::move(hook)); }
    ~PointHook() { SetTestPointHook({}); }
    PointHook(const PointHook&) = delete;
    PointHook& operator=(const PointHook&) = delete;
};

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string out(size, '\0');
    for (char& c : out) c = static_cast<char>(random() & 0xFF);
    return out;
}

// Seconds of a "Time Remaining:" text ("1 minutes, 5 seconds" or "5 seconds"); -1 otherwise.
long SecondsOf(const QString& text) {
    unsigned minutes = 0, seconds = 0;
    const QByteArray bytes = text.toUtf8();
    if (std::sscanf(bytes.constData(), "%u minutes, %u seconds", &minutes, &seconds) == 2)
        return minutes * 60L + seconds;
    if (std::sscanf(bytes.constData(), "%u seconds", &seconds) == 1 && bytes.endsWith(" seconds")) return seconds;
    return -1;
}

// Names and sizes of the files in a folder (the store's pre-run copy left out).
std::vector<std::string> Listing(const std::string& folder) {
    std::vector<std::string> out;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename() != "FileLists.bak")
            out.push_back(entry.path().filename().string() + "|" +
                      (entry.is_regular_file() ? std::to_string(entry.file_size()) : std::string("dir")));
    std::sort(out.begin(), out.end());
    return out;
}

struct Entry {
    ZipEntryHeader header;
    std::string data;
    bool crcChecked = false;
};

// Every entry of an archive in catalog order, with its data.
std::vector<Entry> ReadEntries(const std::string& path) {
    std::vector<Entry> entries;
    ZipArchiveFile zip;
    zip.Open(path, ZipOpenReadOnly);
    for (int i = 0; i < zip.GetEntryCount(); ++i) {
        Entry entry;
        zip.GetEntryInfo(entry.header, i);
        if (!entry.header.IsFolder() && zip.OpenEntry(i)) {
            char buffer[65536];
            while (std::size_t n = zip.ReadEntry(buffer, sizeof buffer)) entry.data.append(buffer, n);
            entry.crcChecked = zip.CloseEntry() == CloseEntryResult::Complete;
        } else {
            entry.crcChecked = entry.header.IsFolder();
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

const Entry* FindEntry(const std::vector<Entry>& entries, const std::string& name) {
    for (const Entry& entry : entries)
        if (entry.header.fileName == name) return &entry;
    return nullptr;
}

// A history as text without its run times: the source folder, then per record the removed
// and the added paths with size and time.
QStringList HistoryText(const std::string& bytes) {
    const HistoryBytes history(bytes.begin(), bytes.end());
    TargetHistoryReader reader(history);
    if (!reader.Valid()) return {QStringLiteral("not a history")};
    QStringList out{QString::fromStdString("source " + std::string(reader.SourceFolder()))};
    BackupRecord record;
    TargetHistoryReader::Step step;
    while ((step = reader.Next(record)) == TargetHistoryReader::Step::Record) {
        out << QStringLiteral("record");
        for (const std::string& path : backuptest::Paths(record.removed.get(), true))
            out << QString::fromStdString("- " + path);
        for (const std::string& path : backuptest::Paths(record.added.get(), true))
            out << QString::fromStdString("+ " + path);
    }
    out << (step == TargetHistoryReader::Step::End ? QStringLiteral("end") : QStringLiteral("damaged"));
    return out;
}

// A run log without its times of day and its date line.
QStringList LogWithoutTimes(const std::string& log) {
    QStringList out;
    for (QString line : QString::fromStdString(log).split(QStringLiteral("\r\n"))) {
        if (line.startsWith(QLatin1Char('['))) line = line.mid(line.indexOf(QStringLiteral("] - ")));
        if (line.startsWith(QStringLiteral("Date: "))) line = QStringLiteral("Date:");
        out << line;
    }
    return out;
}

// Two archives (or stores) made from the same inputs by two runs: the same entries in the
// same order with the same data, except what holds the run's own time (histories and what the
// store keeps beside them, run logs, and the time of entries that are no copies of source files).
void CompareRunOutputs(const std::string& a, const std::string& b, bool store) {
    const std::vector<Entry> left = ReadEntries(a), right = ReadEntries(b);
    QStringList leftNames, rightNames;
    for (const Entry& e : left) leftNames << QString::fromStdString(e.header.fileName);
    for (const Entry& e : right) rightNames << QString::fromStdString(e.header.fileName);
    QCOMPARE(leftNames, rightNames);
    for (std::size_t i = 0; i < left.size(); ++i) {
        const ZipEntryHeader& l = left[i].header;
        const ZipEntryHeader& r = right[i].header;
        const QByteArray name = QByteArray::fromStdString(l.fileName);
        QVERIFY2(left[i].crcChecked && right[i].crcChecked, name.constData());
        QVERIFY2(l.method == r.method && l.externalAttributes == r.externalAttributes, name.constData());
        const bool bookkeeping = store || l.fileName.find('\\') == std::string::npos;
        const bool history = name.endsWith(".tq") && name != "ToDirs.tq" && !name.endsWith("\\ArchNum.tq");
        if (history) {
            QCOMPARE(HistoryText(left[i].data), HistoryText(right[i].data));
        } else if (name == "tqbackup.log") {
            QCOMPARE(LogWithoutTimes(left[i].data), LogWithoutTimes(right[i].data));
        } else if (store && name.endsWith(".end")) {
            // A history's size, CRC and last bytes: they hold the run's time too.
            QCOMPARE(left[i].data.size(), right[i].data.size());
        } else if (store && name.endsWith(".state")) {
            // The same state and source folder; the tag's CRCs hold the run's time.
            DecodedState l2, r2;
            QVERIFY(DecodeStateEntry(BytesOf(left[i].data), l2) && DecodeStateEntry(BytesOf(right[i].data), r2));
            QVERIFY(l2.sourceFolder == r2.sourceFolder && l2.tag.historySize == r2.tag.historySize);
            QVERIFY(std::ranges::equal(l2.serializedState, r2.serializedState));
        } else {
            QVERIFY2(left[i].data == right[i].data, name.constData());
        }
        if (!bookkeeping) QVERIFY2(l.modDate == r.modDate && l.modTime == r.modTime, name.constData());
    }
}

// A program folder, source files and an archive folder below one temporary folder.
class Place {
public:
    Place() { test::MakeFolders(program()); }

    std::string program() const { return root_ / "program"; }
    std::string operator/(const std::string& relative) const { return root_ / relative; }

    // backup.ini from its lines (CR LF line ends), with a fixed time.
    void Ini(std::initializer_list<std::string> lines) const {
        std::string text;
        for (const std::string& line : lines) text += line + "\r\n";
        test::WriteFile(program() + "/backup.ini", text);
        test::SetMtime(program() + "/backup.ini", kSourceTime);
    }
    // A source file (below "source/") with a fixed time.
    void Put(const std::string& relative, const std::string& content, std::int64_t seconds = kSourceTime) const {
        const std::string path = root_ / ("source/" + relative);
        test::MakeFolders(path.substr(0, path.rfind('/')));
        test::WriteFile(path, content);
        test::SetMtime(path, seconds);
    }
    // Every source folder gets the same fixed time.
    void FixFolderTimes() const {
        for (const auto& entry : fs::recursive_directory_iterator(root_ / "source"))
            if (entry.is_directory()) test::SetMtime(entry.path().string(), kSourceTime);
    }

private:
    test::TempFolder root_;
};

// Start-up in the program folder with every job ticked, as for a run.
bool Prepare(JobConfig& config, const Place& place) {
    const StartupResult startup = StartBackupProgram(config, place.program());
    std::string unknown;
    return startup.ready && !startup.message && SelectJobs(config, {}, unknown);
}

}  // namespace

class BackupRunWindowTest : public QObject {
    Q_OBJECT

private slots:
    void CancelAnsweredNoGoesOnWithoutCountingTheQuestion();
    void CancelAnsweredYesInALargeFileLeavesNothing();
    void CloseWhileSavingIsRefused();
    void WholeProgramMakesWhatTheUnattendedRunMakes();
};

void BackupRunWindowTest::CancelAnsweredNoGoesOnWithoutCountingTheQuestion() {
    constexpr int kChunks = 32;
    constexpr int kPauseMs = 2000;
    Place place;
    place.Ini({"[Big]", "\tzip:\"../archives\"", "\tdir:\"../source/Projects\"", "\tto:\"Projects\""});
    const std::string bigPath =
        "Projects/A rather long folder name for the status line/and one more long folder name/big.bin";
    const std::string big = RandomBytes(kChunks * CopyChunkSize, 1);
    place.Put(bigPath, big);
    Boxes boxes;
    JobConfig config;
    QVERIFY(Prepare(config, place));
    BackupEngine engine(config);

    std::atomic<bool> answered{false};
    int chunks = 0;
    std::uint32_t startBefore = 0, startAfter = 0, openTick = 0, answerTick = 0;
    SeenBox question, done;
    QString timeText, statusText;
    bool statusFits = false;
    PointHook hook([&](const char* point) {
        if (std::strcmp(point, "chunk-written") != 0) return;
        ++chunks;
        if (chunks == 1) {
            // The question opens in the middle of the file and stays open for a while; the
            // run is held until the cancel request is over.
            startBefore = engine.EstimateStartTick();
            PostToWindowThread([&] {
                boxes.When(QStringLiteral("Quit??"), [&](QMessageBox* box) {
                    question = Seen(box);
                    openTick = platform::TickCountMs();
                    QTimer::singleShot(kPauseMs, Qt::PreciseTimer, box, [&, box] {
                        answerTick = platform::TickCountMs();
                        box->button(QMessageBox::No)->click();
                    });
                });
                QTest::mouseClick(ProgressWindow()->CancelButton(), Qt::LeftButton);
                answered = true;
            });
            WaitFor(answered);
        } else if (chunks == 2) {
            // The estimate after the question, shown with the first chunk's progress.
            startAfter = engine.EstimateStartTick();
            OnWindowThread([&] {
                timeText = ShownText(ProgressText::TimeRemaining);
                QLabel* status = ProgressWindow()->TextLabel(ProgressText::Status);
                statusText = status->text();
                statusFits = status->sizeHint().width() <= status->width();
            });
        }
    });
    boxes.When(QStringLiteral("Done"), [&](QMessageBox* box) {
        done = Seen(box);
        box->button(QMessageBox::Ok)->click();
    });
    ShowProgressWindow(engine, false);
    QVERIFY2(boxes.errors.isEmpty(), qPrintable(boxes.errors.join(QLatin1Char('|'))));

    QVERIFY(answered);
    QCOMPARE(question.text, QStringLiteral("File copy in progress. Are you sure you want to abort?"));
    QVERIFY(question.ownedByProgressWindow);
    QCOMPARE(engine.Outcome(), BackupEngine::RunOutcome::Succeeded);
    QCOMPARE(done.text, QStringLiteral("Backup Successful!"));
    QCOMPARE(chunks, kChunks);

    // The start of the estimate moved on by at least the time the question was open, and the
    // estimate shown after it (one chunk of the file done) is below what that time alone
    // would have added for the file's other chunks.
    const std::uint32_t questionOpen = answerTick - openTick;
    QVERIFY2(startAfter - startBefore >= questionOpen, qPrintable(QString::number(startAfter - startBefore)));
    QVERIFY(questionOpen > 1000);
    const long seconds = SecondsOf(timeText);
    QVERIFY2(seconds >= 0, qPrintable(timeText));
    QVERIFY2((seconds + 1) * 1000L <= static_cast<long>(questionOpen) * (kChunks - 1), qPrintable(timeText));

    // The status line shows the file's entry path, shortened to fit.
    QVERIFY2(statusText.endsWith(QStringLiteral("/big.bin")) && statusText.contains(QStringLiteral("...")),
             qPrintable(statusText));
    QVERIFY(statusFits);

    const std::vector<Entry> entries = ReadEntries(place / "archives/Big.TQBak");
    std::string entryName = bigPath;
    std::replace(entryName.begin(), entryName.end(), '/', '\\');
    const Entry* copied = FindEntry(entries, entryName);
    QVERIFY(copied != nullptr);
    QVERIFY(copied->crcChecked);
    QVERIFY(copied->data == big);
}

void BackupRunWindowTest::CancelAnsweredYesInALargeFileLeavesNothing() {
    constexpr int kChunks = 16;
    Place place;
    place.Ini({"[Job]", "\tzip:\"../archives\"", "\tdir:\"../source/data\"", "\tto:\"Data\""});
    place.Put("data/a.txt", "first");
    place.Put("data/sub/b.txt", "second");
    Boxes boxes;
    {
        JobConfig firstConfig;
        QVERIFY(Prepare(firstConfig, place));
        BackupEngine first(firstConfig);
        boxes.Confirm(QStringLiteral("Done"));
        ShowProgressWindow(first, false);
        QVERIFY(boxes.errors.isEmpty());
        QCOMPARE(first.Outcome(), BackupEngine::RunOutcome::Succeeded);
    }
    const std::vector<std::string> programBefore = Listing(place.program());
    const std::vector<std::string> archivesBefore = Listing(place / "archives");
    const std::string storeBefore = test::ReadFile(place.program() + "/FileLists.tq");
    const std::string logBefore = test::ReadFile(place.program() + "/backups.log");
    QCOMPARE(archivesBefore.size(), std::size_t{1});

    place.Put("data/sub/big.bin", RandomBytes(kChunks * CopyChunkSize, 2));
    JobConfig config;
    QVERIFY(Prepare(config, place));
    BackupEngine engine(config);
    std::atomic<bool> questionOpen{false};
    int chunks = 0;
    int barAtAnswer = -1;
    bool secondCancelAsked = false, canceledBoxStayed = false, partialWhileCopying = false;
    SeenBox question, canceled;
    QStringList textsWhenCanceled;
    PointHook hook([&](const char* point) {
        if (std::strcmp(point, "chunk-written") != 0 || ++chunks != 1) return;
        partialWhileCopying = fs::exists(place / "archives/Job2.TQBak.partial");
        // Cancel while the first chunk of the large file is in; the run goes on to its next
        // test, showing its progress while the question is open, and must wait there.
        PostToWindowThread([&] {
            boxes.When(QStringLiteral("Quit??"), [&](QMessageBox* box) {
                question = Seen(box);
                questionOpen = true;
                QTimer::singleShot(300, box, [&, box] {
                    barAtAnswer = ProgressWindow()->ProgressBar()->value();
                    box->button(QMessageBox::Yes)->click();
                });
            });
            QTest::mouseClick(ProgressWindow()->CancelButton(), Qt::LeftButton);
        });
        WaitFor(questionOpen);
    });
    boxes.When(QStringLiteral("Canceled."), [&](QMessageBox* box) {
        canceled = Seen(box);
        for (ProgressText line : {ProgressText::CurrentJob, ProgressText::Status, ProgressText::TimeRemaining})
            textsWhenCanceled << ShownText(line);
        // A second cancel once the first is confirmed asks nothing.
        WhenBox(
            QStringLiteral("Quit??"),
            [&](QMessageBox* again) {
                secondCancelAsked = true;
                again->button(QMessageBox::No)->click();
            },
            box, 1000);
        ProgressWindow()->CancelButton()->click();
        canceledBoxStayed = QApplication::activeModalWidget() == box;
        box->button(QMessageBox::Ok)->click();
    });
    ShowProgressWindow(engine, false);
    QVERIFY2(boxes.errors.isEmpty(), qPrintable(boxes.errors.join(QLatin1Char('|'))));

    QVERIFY(questionOpen);
    QVERIFY(question.ownedByProgressWindow);
    QCOMPARE(engine.Outcome(), BackupEngine::RunOutcome::Cancelled);
    // The run stood still while the question was open: one chunk's progress, no more.
    QCOMPARE(barAtAnswer, static_cast<int>(1000.0 / kChunks));
    QCOMPARE(chunks, 1);
    QCOMPARE(textsWhenCanceled, QStringList(3, QStringLiteral("Aborting...")));
    QCOMPARE(canceled.text, QStringLiteral("Backup Canceled"));
    QVERIFY(canceled.ownedByProgressWindow);
    QVERIFY(!secondCancelAsked);
    QVERIFY(canceledBoxStayed);

    QVERIFY(partialWhileCopying);
    QCOMPARE(Listing(place / "archives"), archivesBefore);
    QCOMPARE(Listing(place.program()), programBefore);
    QVERIFY(test::ReadFile(place.program() + "/FileLists.tq") == storeBefore);
    // The copy taken when the run began is the store as it was.
    QVERIFY(test::ReadFile(place.program() + "/FileLists.bak") == storeBefore);
    QVERIFY(test::ReadFile(place.program() + "/backups.log") == logBefore);
}

void BackupRunWindowTest::CloseWhileSavingIsRefused() {
    Place place;
    place.Ini({"[Job]", "\tzip:\"../archives\"", "\tdir:\"../source/data\"", "\tto:\"Data\""});
    place.Put("data/a.txt", "first");
    Boxes boxes;
    JobConfig config;
    QVERIFY(Prepare(config, place));
    BackupEngine engine(config);

    QString status;
    bool cancelEnabled = true, closed = true, stillShown = false, askedToQuit = false;
    SeenBox refusal, done;
    PointHook hook([&](const char* point) {
        if (std::strcmp(point, "store-written") != 0) return;
        OnWindowThread([&] {
            BackupProgressDialog* window = ProgressWindow();
            status = window->TextLabel(ProgressText::Status)->text();
            cancelEnabled = window->CancelButton()->isEnabled();
            WhenBox(
                QStringLiteral("Abort"),
                [&](QMessageBox* box) {
                    refusal = Seen(box);
                    box->button(QMessageBox::Ok)->click();
                },
                window);
            WhenBox(
                QStringLiteral("Quit??"),
                [&](QMessageBox* box) {
                    askedToQuit = true;
                    box->button(QMessageBox::No)->click();
                },
                window, 5000);
            closed = window->close();
            stillShown = window->isVisible();
        });
    });
    boxes.When(QStringLiteral("Done"), [&](QMessageBox* box) {
        done = Seen(box);
        box->button(QMessageBox::Ok)->click();
    });
    ShowProgressWindow(engine, false);
    QVERIFY2(boxes.errors.isEmpty(), qPrintable(boxes.errors.join(QLatin1Char('|'))));

    QCOMPARE(status, QStringLiteral("Saving File Lists..."));
    QVERIFY(!cancelEnabled);
    QVERIFY(!askedToQuit);
    QCOMPARE(refusal.text, QStringLiteral("Unable to abort at this time."));
    QVERIFY(refusal.ownedByProgressWindow);
    QVERIFY(!closed);
    QVERIFY(stillShown);
    QCOMPARE(engine.Outcome(), BackupEngine::RunOutcome::Succeeded);
    QCOMPARE(done.text, QStringLiteral("Backup Successful!"));
    QVERIFY(FindEntry(ReadEntries(place / "archives/Job.TQBak"), "Data\\a.txt") != nullptr);
    QVERIFY(FindEntry(ReadEntries(place.program() + "/FileLists.tq"), "Job\\ArchNum.tq") != nullptr);
}

namespace {

// Three jobs; the same inputs in each place, with the same times.
void MakeInputs(const Place& place) {
    place.Ini({"[global]", "\texclude:\"*.tmp\"", "[Docs]", "\tzip:\"../archives\"", "\tdir:\"../source/docs\"",
               "\tto:\"Docs\"", "\texclude:\"*.bak\"", "\tdir:\"../source/mail\"", "\tto:\"Mail\"", "[Pictures]",
               "\tzip:\"../archives\"", "\tdir:\"../source/pics\"", "\tto:\"Pictures\"", "[Music]",
               "\tzip:\"../archives/Music Set.TQBak\"", "\tdir:\"../source/music\"", "\tto:\"Music\""});
    place.Put("docs/notes.txt", "notes");
    place.Put("docs/letters/a.txt", std::string(5000, 'a'));
    place.Put("docs/letters/b.txt", "to be removed");
    place.Put("docs/old.bak", "left out by its job");
    place.Put("docs/scratch.tmp", "left out everywhere");
    place.Put("mail/inbox.mbx", RandomBytes(300000, 3));
    place.Put("pics/p1.jpg", RandomBytes(100000, 4));
    place.Put("pics/sub/p2.jpg", RandomBytes(1000, 5));
    place.Put("music/song.ogg", RandomBytes(400000, 6), kSourceTime + 100);
    place.Put("music/\xC3\x9C" "ber/tune.ogg", "tune");
    test::MakeFolders(place / "source/docs/empty");
    place.FixFolderTimes();
}

// What happened between the first and the second run.
void ChangeInputs(const Place& place) {
    fs::remove(place / "source/docs/letters/b.txt");
    place.Put("docs/notes.txt", "notes, longer now", kSourceTime + 5000);
    place.Put("docs/new/c.txt", "new");
    place.Put("pics/p3.jpg", "not run this time");
    place.FixFolderTimes();
}

test::CommandResult RunUnattended(const Place& place, std::vector<std::string> jobs) {
    std::vector<std::string> argv{test::BuiltProgram("halvex-backup"), "--run", "--dir", place.program()};
    for (const std::string& job : jobs) argv.insert(argv.end(), {"--job", job});
    return test::RunCommand(argv);
}

}  // namespace

void BackupRunWindowTest::WholeProgramMakesWhatTheUnattendedRunMakes() {
    Place windows, unattended;
    for (const Place* place : {&windows, &unattended}) {
        MakeInputs(*place);
        const test::CommandResult first = RunUnattended(*place, {"Docs", "Pictures"});
        QVERIFY2(first.exitCode == 0, first.errors.c_str());
        ChangeInputs(*place);
    }

    Boxes boxes;
    QStringList lastBackupTexts;
    bool backupEnabled = false;
    SeenBox done;
    QString jobShownAtEnd, statusAtEnd, timeAtEnd;
    bool cancelEnabledAtEnd = true;
    int barAtEnd = -1;
    test::WhenModalAppears([&](QWidget* modal) {
        auto* selection = qobject_cast<JobSelectionDialog*>(modal);
        if (selection == nullptr) {
            QTest::qFail("the job-selection window did not appear", __FILE__, __LINE__);
            if (auto* box = qobject_cast<QMessageBox*>(modal)) box->buttons().first()->click();
            return;
        }
        for (int j = 0; j < selection->JobCount(); ++j) lastBackupTexts << selection->LastBackupLabel(j)->text();
        QCheckBox* pictures = selection->JobCheckBox(1);
        QTest::mouseClick(pictures, Qt::LeftButton, {}, QPoint(8, pictures->height() / 2));
        backupEnabled = selection->BackupButton()->isEnabled();
        boxes.When(QStringLiteral("Done"), [&](QMessageBox* box) {
            done = Seen(box);
            jobShownAtEnd = ShownText(ProgressText::CurrentJob);
            statusAtEnd = ShownText(ProgressText::Status);
            timeAtEnd = ShownText(ProgressText::TimeRemaining);
            cancelEnabledAtEnd = ProgressWindow()->CancelButton()->isEnabled();
            barAtEnd = ProgressWindow()->ProgressBar()->value();
            box->button(QMessageBox::Ok)->click();
        });
        QTest::mouseClick(selection->BackupButton(), Qt::LeftButton);
    });
    const int status = RunBackupApp(windows.program());
    const test::CommandResult second = RunUnattended(unattended, {"Docs", "Music"});
    QVERIFY2(second.exitCode == 0, second.errors.c_str());

    QVERIFY2(boxes.errors.isEmpty(), qPrintable(boxes.errors.join(QLatin1Char('|'))));
    QCOMPARE(status, kExitSucceeded);
    QCOMPARE(lastBackupTexts.size(), 3);
    QVERIFY(lastBackupTexts[0] != QStringLiteral("Never") && lastBackupTexts[1] != QStringLiteral("Never"));
    QCOMPARE(lastBackupTexts[2], QStringLiteral("Never"));
    QVERIFY(backupEnabled);
    QCOMPARE(done.text, QStringLiteral("Backup Successful!"));
    QVERIFY(done.ownedByProgressWindow);
    QCOMPARE(jobShownAtEnd, QStringLiteral("Music"));
    QCOMPARE(statusAtEnd, QStringLiteral("Saving File Lists..."));
    QCOMPARE(timeAtEnd, QString());  // no estimate while saving
    QVERIFY(!cancelEnabledAtEnd);
    QCOMPARE(barAtEnd, 1000);

    // The same archives, and nothing for the job left unticked.
    // (Their sizes may differ: the run's times are compressed with the logs and histories.)
    auto names = [](const std::string& folder) {
        QStringList out;
        for (const auto& entry : fs::directory_iterator(folder)) out << QString::fromStdString(entry.path().filename());
        out.sort();
        return out;
    };
    QCOMPARE(names(windows / "archives"), names(unattended / "archives"));
    QCOMPARE(names(windows / "archives"),
             QStringList({"Docs.TQBak", "Docs2.TQBak", "Music Set.TQBak", "Pictures.TQBak"}));
    for (const std::string name : {"Docs.TQBak", "Docs2.TQBak", "Pictures.TQBak", "Music Set.TQBak"}) {
        CompareRunOutputs(windows / ("archives/" + name), unattended / ("archives/" + name), false);
        if (QTest::currentTestFailed()) QFAIL(name.c_str());
        if (test::HasTool("unzip")) {
            const test::CommandResult check = test::RunCommand({"unzip", "-tq", windows / ("archives/" + name)});
            QVERIFY2(check.exitCode == 0, check.output.c_str());
        }
    }
    CompareRunOutputs(windows.program() + "/FileLists.tq", unattended.program() + "/FileLists.tq", true);

    // The comparison has something to compare: the second Docs archive holds the change, and
    // its history records the removed letter.
    const std::vector<Entry> docs2 = ReadEntries(windows / "archives/Docs2.TQBak");
    QVERIFY(FindEntry(docs2, "Docs\\new\\c.txt") != nullptr);
    QVERIFY(FindEntry(docs2, "Docs\\notes.txt") != nullptr);
    QVERIFY(FindEntry(docs2, "Docs\\letters\\a.txt") == nullptr);
    QVERIFY(FindEntry(docs2, "Mail\\inbox.mbx") == nullptr);
    const Entry* history = FindEntry(docs2, "Docs.tq");
    QVERIFY(history != nullptr);
    bool removedListed = false;
    for (const QString& line : HistoryText(history->data))
        removedListed = removedListed || line.startsWith(QStringLiteral("- letters\\b.txt"));
    QVERIFY(removedListed);
    QVERIFY(FindEntry(ReadEntries(windows / "archives/Music Set.TQBak"), "Music\\\xC3\x9C" "ber\\tune.ogg") != nullptr);
}

QTEST_MAIN(BackupRunWindowTest)
#include "backup_run_window_test.moc"
