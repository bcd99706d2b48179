// How the programs meet the desktop: command-line manners, Qt's own strings in Chinese, and the folder
// the snapshot dialog opens in.
#include "output/snapshot.h"
#include "support/run_program.h"
#include "support/when_shown.h"
#include "widgets/command_options.h"
#include "widgets/qt_translations.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdio>

using zelkor::testing::RunProgram;
using zelkor::widgets::ProgramOption;
using zelkor::widgets::SortedCommandLine;
using Request = SortedCommandLine::Request;

namespace {

constexpr ProgramOption kOwn[] = {{"--demo", false}, {"--usb-device", true}};

QString BinPath(const char* program)
{
    return qEnvironmentVariable("ZELKOR2D_BIN_DIR") + QLatin1Char('/') + QLatin1String(program);
}

}  // namespace

TEST(CommandLine, OwnOptionsStayQtOptionsGoTheRestIsRefused)
{
    struct Case {
        std::vector<std::string> args;
        Request request;
        std::vector<std::string> arguments;  // with Run
        const char* errorMentions;           // with Error
    };
    const Case cases[] = {
        {{}, Request::Run, {}, ""},
        {{"4", "--demo", "7"}, Request::Run, {"4", "--demo", "7"}, ""},
        {{"-1"}, Request::Run, {"-1"}, ""},  // a negative index, not an option
        {{"-", "+4", " -2"}, Request::Run, {"-", "+4", " -2"}, ""},
        {{"-platform", "offscreen", "9"}, Request::Run, {"9"}, ""},
        {{"--platform=xcb", "-style", "fusion", "-reverse", "3"}, Request::Run, {"3"}, ""},
        {{"-qwindowtitle", "--demo"}, Request::Run, {}, ""},  // Qt's value, whatever it looks like
        {{"--usb-device", "--help"}, Request::Run, {"--usb-device", "--help"}, ""},  // the value is judged later
        {{"--usb-device=1234:abcd", "--usb-device"}, Request::Run, {"--usb-device=1234:abcd", "--usb-device"}, ""},
        {{"-h"}, Request::Help, {}, ""},
        {{"4", "--help", "--bogus"}, Request::Help, {}, ""},
        {{"--version"}, Request::Version, {}, ""},
        {{"-v", "-h"}, Request::Version, {}, ""},
        {{"--bogus"}, Request::Error, {}, "'--bogus'"},
        {{"4", "-x"}, Request::Error, {}, "'-x'"},
        {{"--"}, Request::Error, {}, "'--'"},
        {{"--demo=yes"}, Request::Error, {}, "'--demo'"},
        {{"--Demo"}, Request::Error, {}, "'--Demo'"},
        {{"--bogus", "--help"}, Request::Error, {}, "'--bogus'"},
    };
    for (const Case& c : cases) {
        const SortedCommandLine sorted = zelkor::widgets::SortCommandLine(c.args, kOwn);
        std::string shown;
        for (const auto& a : c.args)
            shown += "[" + a + "]";
        EXPECT_EQ(sorted.request, c.request) << shown;
        if (c.request == Request::Run) {
            EXPECT_EQ(sorted.arguments, c.arguments) << shown;
        } else if (c.request == Request::Error) {
            EXPECT_NE(sorted.error.find(c.errorMentions), std::string::npos) << shown << ": " << sorted.error;
        }
    }
}

TEST(CommandLine, AnswersPrintWhereTheyBelongWithTheRightExitCode)
{
    auto answer = [](Request request, std::string error, std::string* out, std::string* err) {
        std::FILE* o = std::tmpfile();
        std::FILE* e = std::tmpfile();
        const auto code =
            zelkor::widgets::AnswerCommandLine({request, {}, std::move(error)}, "kivor", "Usage: kivor\n", o, e);
        for (auto [file, text] : {std::pair{o, out}, std::pair{e, err}}) {
            std::rewind(file);
            char buffer[512] = {};
            text->assign(buffer, std::fread(buffer, 1, sizeof buffer - 1, file));
            std::fclose(file);
        }
        return code;
    };
    std::string out, err;
    EXPECT_EQ(answer(Request::Run, "", &out, &err), std::nullopt);
    EXPECT_EQ(out + err, "");
    EXPECT_EQ(answer(Request::Help, "", &out, &err), 0);
    EXPECT_EQ(out, "Usage: kivor\n");
    EXPECT_EQ(err, "");
    EXPECT_EQ(answer(Request::Version, "", &out, &err), 0);
    EXPECT_EQ(out, "kivor " ZELKOR2D_EXPECTED_VERSION "\n");
    EXPECT_EQ(answer(Request::Error, "unknown option '-x'", &out, &err), 2);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "kivor: unknown option '-x'\nTry 'kivor --help' for the options.\n");
}

// Without a display and with the X11 platform forced, so an answer that tried to open a window would abort.
TEST(CommandLine, BothProgramsAnswerWithoutADisplay)
{
    for (const char* program : {"kivor", "Zelkor2d"}) {
        const QString path = BinPath(program);
        auto help = RunProgram(path, {QStringLiteral("--help")});
        ASSERT_TRUE(help.finished) << program;
        EXPECT_EQ(help.exitCode, 0) << program;
        EXPECT_TRUE(help.out.startsWith(QStringLiteral("Usage: %1").arg(QLatin1String(program)))) << help.out.toStdString();
        for (const char* mention : {"--demo", "--usb-device vvvv:pppp", "--version"})
            EXPECT_TRUE(help.out.contains(QLatin1String(mention))) << program << " " << mention;

        auto version = RunProgram(path, {QStringLiteral("-v")});
        EXPECT_EQ(version.exitCode, 0) << program;
        EXPECT_EQ(version.out, QStringLiteral("%1 " ZELKOR2D_EXPECTED_VERSION "\n").arg(QLatin1String(program)));

        auto unknown = RunProgram(path, {QStringLiteral("9"), QStringLiteral("--frobnicate")});
        ASSERT_TRUE(unknown.finished) << program;
        EXPECT_EQ(unknown.exitCode, 2) << program;
        EXPECT_TRUE(unknown.err.contains(QStringLiteral("unknown option '--frobnicate'"))) << unknown.err.toStdString();
        EXPECT_TRUE(unknown.out.isEmpty());
    }

    const auto kivor = RunProgram(BinPath("kivor"), {QStringLiteral("--help")});
    for (const char* line : {"     4  单摆\n", "    10  球面轨道\n", "    12  校准测试软件(2D)\n"})
        EXPECT_TRUE(kivor.out.contains(QString::fromUtf8(line))) << line;
    EXPECT_FALSE(kivor.out.contains(QStringLiteral("    11  ")));
    const auto menu = RunProgram(BinPath("Zelkor2d"), {QStringLiteral("--help")});
    EXPECT_TRUE(menu.out.contains(QFileInfo(BinPath("kivor")).canonicalFilePath())) << menu.out.toStdString();
}

// The test main set the application up as the programs do, so Qt's strings are already Chinese.
TEST(QtStrings, MessageBoxesAndTheSaveDialogSpeakChinese)
{
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("kivor"), QStringLiteral("x"),
                    QMessageBox::Ok | QMessageBox::Cancel | QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(box.button(QMessageBox::Ok)->text(), QStringLiteral("确定"));
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), QStringLiteral("取消"));
    EXPECT_TRUE(box.button(QMessageBox::Yes)->text().startsWith(QStringLiteral("是")));

    bool seen = false;
    QStringList texts;
    zelkor::testing::WhenShown<QFileDialog>(
        [&](QFileDialog* d) {
            for (auto* label : d->findChildren<QLabel*>())
                if (label->isVisible()) texts << label->text();
            for (auto* button : d->findChild<QDialogButtonBox*>()->findChildren<QPushButton*>())
                texts << button->text();
            d->reject();
        },
        &seen);
    zelkor::output::RunSnapshotSaveDialog(nullptr);
    ASSERT_TRUE(seen);
    EXPECT_TRUE(texts.contains(QStringLiteral("保存(&S)"))) << texts.join('|').toStdString();
    EXPECT_TRUE(texts.contains(QStringLiteral("取消"))) << texts.join('|').toStdString();
    for (const QString& text : texts)  // no English word left ("Look in", "File name", ...); "&S" may stay
        EXPECT_FALSE(text.contains(QRegularExpression(QStringLiteral("[A-Za-z]{2}")))) << text.toStdString();
}

TEST(QtStrings, ChineseLocalesKeepTheirOwnOthersGetSimplifiedChinese)
{
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    const std::pair<const char*, const char*> cases[] = {
        {"zh_CN", "qtbase_zh_CN.qm"}, {"zh_TW", "qtbase_zh_TW.qm"}, {"de_DE", "qtbase_zh_CN.qm"},
        {"en_US", "qtbase_zh_CN.qm"}, {"C", "qtbase_zh_CN.qm"},
    };
    for (const auto& [locale, file] : cases) {
        const auto translator = zelkor::widgets::LoadQtTranslations(QLocale(QLatin1String(locale)), folder);
        ASSERT_NE(translator, nullptr) << locale;
        EXPECT_EQ(QFileInfo(translator->filePath()).fileName(), QLatin1String(file)) << locale;
    }
    QTemporaryDir empty;
    EXPECT_EQ(zelkor::widgets::LoadQtTranslations(QLocale(QStringLiteral("zh_CN")), empty.path()), nullptr);
}

// The pictures folder as the desktop names it, the home folder where there is none.
TEST(SnapshotDialog, OpensInThePicturesFolder)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QByteArray savedHome = qgetenv("HOME");
    const QByteArray savedConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", QFile::encodeName(home.path()));
    qunsetenv("XDG_CONFIG_HOME");

    QStringList seenFolders;
    auto openDialog = [&] {
        bool seen = false;
        zelkor::testing::WhenShown<QFileDialog>(
            [&](QFileDialog* d) {
                seenFolders << d->directory().absolutePath();
                d->reject();
            },
            &seen);
        EXPECT_TRUE(zelkor::output::RunSnapshotSaveDialog(nullptr).isEmpty());
        EXPECT_TRUE(seen);
    };
    openDialog();  // no pictures folder yet
    ASSERT_TRUE(QDir(home.path()).mkdir(QStringLiteral("Pictures")));
    openDialog();
    ASSERT_TRUE(QDir(home.path()).mkpath(QStringLiteral(".config")));
    ASSERT_TRUE(QDir(home.path()).mkdir(QStringLiteral("图片")));
    QFile dirs(home.filePath(QStringLiteral(".config/user-dirs.dirs")));
    ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
    dirs.write("XDG_PICTURES_DIR=\"$HOME/\xe5\x9b\xbe\xe7\x89\x87\"\n");
    dirs.close();
    openDialog();

    qputenv("HOME", savedHome);
    if (savedConfig.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", savedConfig);
    EXPECT_EQ(seenFolders, (QStringList{home.path(), home.filePath(QStringLiteral("Pictures")),
                                        home.filePath(QStringLiteral("图片"))}));
}
