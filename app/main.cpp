#include <QApplication>
#include <QFileInfo>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/orvale_app.h"
#include "app/version.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const orvale::app::ParseResult parsed = orvale::app::parseCommandLine(args);
    if (!parsed.options) {
        std::fputs(parsed.output.c_str(), parsed.exitCode == 0 ? stdout : stderr);
        return parsed.exitCode;
    }
    std::fputs(parsed.notice.c_str(), stderr);

    // Qt sees only its own options: a value of ours, such as "--log -reverse", is never taken
    // for one of Qt's. QApplication keeps a reference to these, so they outlive it.
    std::vector<std::string> qtArguments = parsed.options->qtArguments;
    static char programName[] = "Orvale";
    std::vector<char*> qtArgv;
    qtArgv.push_back(argc > 0 ? argv[0] : programName);
    for (std::string& argument : qtArguments) qtArgv.push_back(argument.data());
    qtArgv.push_back(nullptr);
    int qtArgc = static_cast<int>(qtArgv.size() - 1);

    // Headless, no widget is made and no display server is needed: a core application only.
    std::unique_ptr<QCoreApplication> application;
    if (parsed.options->headless) {
        application = std::make_unique<QCoreApplication>(qtArgc, qtArgv.data());
    } else {
        application = std::make_unique<QApplication>(qtArgc, qtArgv.data());
    }
    // Message boxes are captioned with the executable's name without its extension.
    QCoreApplication::setApplicationName(
        QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
    QCoreApplication::setOrganizationName(QStringLiteral("Orvale"));
    // The About dialog and the control API's hello show it.
    QCoreApplication::setApplicationVersion(QString::fromUtf8(
        orvale::app::kVersion.data(), static_cast<qsizetype>(orvale::app::kVersion.size())));

    orvale::app::COrvaleApp app(*parsed.options);
    return app.InitInstance();
}
