#include "BenchWorkspace.h"

#include "LyxPlatform.h"
#include "lyx/platform/activation.hpp"

#include <QDir>

#include <cstdio>

namespace lyx::viewer::bench {

namespace {
int answerOk(void *, const char *text, const char *caption, std::uint32_t) {
    std::fprintf(stderr, "[message] %s: %s\n", caption, text);
    return LYX_IDOK;
}
}  // namespace

Workspace::Workspace() {
    for (const char *sub : {"config", "tmp", "vhid", "ports", "program"})
        QDir(folder_.path()).mkpath(QString::fromLatin1(sub));
    qputenv("XDG_CONFIG_HOME", path(QStringLiteral("config")).toLocal8Bit());
    qputenv("LYX_REGISTRY", path(QStringLiteral("classes.ini")).toLocal8Bit());
    qputenv("TMPDIR", path(QStringLiteral("tmp")).toLocal8Bit());
    qputenv("LYX_VHID_DIR", path(QStringLiteral("vhid")).toLocal8Bit());
    qputenv("LYX_PORT_DIR", path(QStringLiteral("ports")).toLocal8Bit());
    LyxSetMessageBoxHandler(&answerOk, nullptr);
    if (!component_.open(LYX_COMPONENT_FILE)) {
        std::fprintf(stderr, "cannot load %s: %s\n", LYX_COMPONENT_FILE,
                     component_.error().c_str());
        return;
    }
    auto registerServer =
        component_.function<platform::DllRegisterServerFunction>("DllRegisterServer");
    ok_ = registerServer != nullptr && registerServer() == 0;
}

Workspace::~Workspace() {
    LyxSetMessageBoxHandler(nullptr, nullptr);
}

}  // namespace lyx::viewer::bench
