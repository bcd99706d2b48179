// `cmake --install` into a staging folder, checked as a desktop and a school's computer would see it:
// the two programs side by side, valid desktop entries and metadata, the icons, the sensor's udev rule,
// the installed launcher finding the installed host, and exports kept out of the program folder.
#include "launcher/host_starter.h"
#include "output/spreadsheet_io.h"
#include "support/run_program.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>
#include <QMap>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using zelkor::testing::RunProgram;

namespace {

const QString kAppId = QStringLiteral("org.zelkor2d.zelkor2d");

class StagedInstall : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        stage_ = new QTemporaryDir;
        ASSERT_TRUE(stage_->isValid());
        const auto run = RunProgram(QStringLiteral(ZELKOR2D_CMAKE_COMMAND),
                                    {QStringLiteral("--install"), QStringLiteral(ZELKOR2D_BUILD_DIR),
                                     QStringLiteral("--prefix"), Prefix()},
                                    false, 120000);
        installed_ = run.finished && run.exitCode == 0;
        if (!installed_)
            installLog_ = new QString(run.out + run.err);
    }
    static void TearDownTestSuite()
    {
        delete stage_;
        stage_ = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(installed_) << (installLog_ ? installLog_->toStdString() : ""); }

    // With spaces, as a school's own folder might have them.
    static QString Prefix() { return stage_->filePath(QStringLiteral("school pc/usr")); }
    static QString At(const QString& relative) { return Prefix() + QLatin1Char('/') + relative; }
    static QString Bin(const char* program) { return At(QStringLiteral("bin/")) + QLatin1String(program); }

    static QString ReadText(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    // The groups of a desktop entry file with their keys (QSettings would take ';' for a comment).
    static QMap<QString, QMap<QString, QString>> ReadDesktopEntry(const QString& path)
    {
        QMap<QString, QMap<QString, QString>> groups;
        QString group;
        for (const QString& line : ReadText(path).split(QLatin1Char('\n'))) {
            if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']')))
                group = line.mid(1, line.size() - 2);
            else if (const qsizetype eq = line.indexOf(QLatin1Char('=')); eq > 0 && !line.startsWith(QLatin1Char('#')))
                groups[group][line.left(eq)] = line.mid(eq + 1);
        }
        return groups;
    }

    // The files directly in a folder, in byte order.
    static std::string FilesIn(const QString& folder)
    {
        QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::NoSort);
        names.sort();
        return names.join(QLatin1Char(' ')).toStdString();
    }

    // Skips with a clear message when a validator of the package list is missing on this machine.
    static bool HaveTool(const QString& tool)
    {
        return !QStandardPaths::findExecutable(tool).isEmpty();
    }

    static inline QTemporaryDir* stage_ = nullptr;
    static inline bool installed_ = false;
    static inline QString* installLog_ = nullptr;
};

TEST_F(StagedInstall, LayoutHasBothProgramsIconsManualsAndTheUdevRule)
{
    // Only the two programs a user types go on the PATH.
    EXPECT_EQ(FilesIn(At("bin")), "Zelkor2d kivor");
    for (const char* program : {"Zelkor2d", "kivor"})
        EXPECT_TRUE(QFileInfo(Bin(program)).isExecutable()) << program;

    for (const int side : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QImage icon(At(QStringLiteral("share/icons/hicolor/%1x%1/apps/zelkor2d.png").arg(side)));
        EXPECT_EQ(icon.size(), QSize(side, side)) << side;
        EXPECT_TRUE(icon.hasAlphaChannel()) << side;
        EXPECT_EQ(icon.pixelColor(0, 0).alpha(), 0) << side;  // the rounded tile leaves its corners clear
        EXPECT_GT(icon.pixelColor(side / 2, side / 2 + side / 8).alpha(), 0) << side;
    }
    for (const char* page : {"Zelkor2d.1.gz", "kivor.1.gz"})
        EXPECT_TRUE(QFileInfo(At(QStringLiteral("share/man/man1/") + QLatin1String(page))).isFile()) << page;
    EXPECT_TRUE(QFileInfo(At("share/doc/zelkor2d/copyright")).isFile());

    const QString rule = ReadText(At("lib/udev/rules.d/70-zelkor2d-sensor.rules"));
    ASSERT_FALSE(rule.isEmpty());
    EXPECT_TRUE(rule.contains(QStringLiteral("TAG+=\"uaccess\"")));
    // Every rule that is not a comment grants the desktop user access to one USB device, nothing wider.
    const QRegularExpression shape(QStringLiteral(
        "^SUBSYSTEM==\"usb\", ATTR\\{idVendor\\}==\"[0-9a-f]{4}\", ATTR\\{idProduct\\}==\"[0-9a-f]{4}\", TAG\\+=\"uaccess\"$"));
    for (const QString& line : rule.split(QLatin1Char('\n'))) {
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        EXPECT_TRUE(shape.match(line).hasMatch()) << line.toStdString();
    }
}

TEST_F(StagedInstall, DesktopEntriesAndMetadataValidate)
{
    const QStringList entries{At("share/applications/" + kAppId + ".desktop"),
                              At("share/applications/" + kAppId + "-demo.desktop")};
    const QString metainfo = At("share/metainfo/" + kAppId + ".metainfo.xml");
    if (!HaveTool(QStringLiteral("desktop-file-validate")) || !HaveTool(QStringLiteral("appstreamcli")))
        GTEST_SKIP() << "desktop-file-validate or appstreamcli missing: install desktop-file-utils and appstream "
                        "(scripts/packages.txt lists them)";
    for (const QString& entry : entries) {
        const auto run = RunProgram(QStringLiteral("desktop-file-validate"), {entry}, false);
        EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
        EXPECT_FALSE(run.out.contains(QStringLiteral("error:"))) << run.out.toStdString();
    }
    const auto run = RunProgram(QStringLiteral("appstreamcli"), {QStringLiteral("validate"), QStringLiteral("--no-net"), metainfo}, false);
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();

    const QString xml = ReadText(metainfo);
    EXPECT_TRUE(xml.contains("<launchable type=\"desktop-id\">" + kAppId + ".desktop</launchable>"));
    EXPECT_TRUE(xml.contains(QStringLiteral("<release version=\"" ZELKOR2D_EXPECTED_VERSION "\"")));
}

// What the menu and its actions start, and that each resolves to an installed program that runs.
TEST_F(StagedInstall, DesktopEntryStartsTheMenuTheTwoHiddenExperimentsAndTheDemo)
{
    auto groups = ReadDesktopEntry(At("share/applications/" + kAppId + ".desktop"));
    const auto& main = groups[QStringLiteral("Desktop Entry")];
    EXPECT_EQ(main.value("Type"), QStringLiteral("Application"));
    EXPECT_EQ(main.value("Name"), QStringLiteral("Zelkor 2D"));
    EXPECT_FALSE(main.value("Name[zh_CN]").isEmpty());
    EXPECT_EQ(main.value("Icon"), QStringLiteral("zelkor2d"));
    EXPECT_EQ(main.value("Exec"), QStringLiteral("Zelkor2d"));
    EXPECT_EQ(main.value("Categories"), QStringLiteral("Education;Science;Physics;"));

    QStringList execs;
    for (const QString& action : main.value("Actions").split(QLatin1Char(';'), Qt::SkipEmptyParts))
        execs << groups[QStringLiteral("Desktop Action ") + action].value("Exec");
    EXPECT_EQ(execs.join('|').toStdString(), "kivor 10|kivor 12|Zelkor2d --demo");
    auto demo = ReadDesktopEntry(At("share/applications/" + kAppId + "-demo.desktop"));
    EXPECT_EQ(demo[QStringLiteral("Desktop Entry")].value("Exec"), QStringLiteral("Zelkor2d --demo"));

    // Every command names an installed program, and that program accepts the arguments: with
    // --version added it answers instead of opening a window.
    execs << QStringLiteral("Zelkor2d");
    for (const QString& exec : execs) {
        QStringList words = exec.split(QLatin1Char(' '));
        const QString program = Bin(words.takeFirst().toLatin1().constData());
        const auto run = RunProgram(program, words << QStringLiteral("--version"));
        EXPECT_EQ(run.exitCode, 0) << exec.toStdString() << run.err.toStdString();
        EXPECT_TRUE(run.out.endsWith(QStringLiteral(" " ZELKOR2D_EXPECTED_VERSION "\n"))) << exec.toStdString();
    }
}

TEST_F(StagedInstall, InstalledLauncherStartsTheInstalledHost)
{
    // The launcher names the host it will start: beside itself, also when started through a link.
    const QString host = QFileInfo(Bin("kivor")).canonicalFilePath();
    const QString link = stage_->filePath(QStringLiteral("Zelkor2d-link"));
    ASSERT_TRUE(QFile::link(Bin("Zelkor2d"), link));
    for (const QString& launcher : {Bin("Zelkor2d"), link}) {
        const auto help = RunProgram(launcher, {QStringLiteral("--help")});
        EXPECT_TRUE(help.out.contains(QStringLiteral(" the host ") + host + QLatin1Char(' '))) << help.out.toStdString();
    }
    // The launcher's own way of starting it, from the installed folder: index 11 ends at once.
    const QString folder = QFileInfo(host).absolutePath();
    EXPECT_TRUE(zelkor::launcher::RunHostAndWait(zelkor::launcher::BuildHostCommand(folder, 11, {})));
    EXPECT_FALSE(zelkor::launcher::RunHostAndWait(zelkor::launcher::BuildHostCommand(At("share"), 11, {})));
}

// Even where the program folder could be written (root may write anywhere), an installed copy puts
// its exports in the user's documents and creates nothing beside the programs.
TEST_F(StagedInstall, ExportsOfTheInstalledCopyGoToTheUsersDocuments)
{
    QTemporaryDir documents;
    auto& hooks = zelkor::output::SpreadsheetPlatformHooks();
    hooks.programFolder = [] { return At(QStringLiteral("bin")); };
    hooks.documentsFolder = [&] { return documents.path(); };
    QStringList opened;
    hooks.openWithDesktop = [&](const QString& path) { opened << path; return true; };

    const QString expected = documents.filePath(QStringLiteral("Zelkor2d/freelyfall"));
    EXPECT_EQ(zelkor::output::ImportStartFolder(zelkor::output::kFreeFallFolder), expected);
    const QString file = zelkor::output::ExportWorkbook(nullptr, zelkor::output::kFreeFallFolder, {"X", "Y", "t"},
                                                       {{0.1, 0.2, 0.02}});
    EXPECT_EQ(QFileInfo(file).absolutePath(), expected);
    EXPECT_TRUE(QFileInfo(file).isFile());
    EXPECT_EQ(opened, QStringList{file});
    EXPECT_EQ(FilesIn(At("bin")), "Zelkor2d kivor");
    hooks = {};
}

}  // namespace
