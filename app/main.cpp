#include <QApplication>
#include <QFileInfo>
#include <cstdio>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/orvale_app.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const orvale::app::ParseResult parsed = orvale::app::parseCommandLine(args);
    if (!parsed.options) {
        std::string text = parsed.output;
        if (parsed.exitCode == 0 && text.starts_with(orvale::app::kVersionLine)) {
            text = std::string(orvale::app::kVersionLine) + " (Qt " + qVersion() + ")\n";
        }
        std::fputs(text.c_str(), parsed.exitCode == 0 ? stdout : stderr);
        return parsed.exitCode;
    }

    QApplication application(argc, argv);
    // Message boxes are captioned with the executable's name without its extension.
    QApplication::setApplicationName(
        QFileInfo(QApplication::applicationFilePath()).completeBaseName());
    QApplication::setOrganizationName(QStringLiteral("Orvale"));

    orvale::app::COrvaleApp app(*parsed.options);
    app.InitInstance();
    return 0;
}
