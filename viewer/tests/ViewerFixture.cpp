#include "ViewerFixture.h"

#include "LyxPlatform.h"
#include "lyx/platform/activation.hpp"

#include <QDir>
#include <QLocale>
#include <QTest>

#include <cstdlib>

namespace lyx::viewer::testing {

namespace {

int record(void *context, const char *text, const char *caption, std::uint32_t flags) {
    auto *recorder = static_cast<MessageBoxRecorder *>(context);
    recorder->shown.push_back({QString::fromUtf8(text), QString::fromUtf8(caption), flags});
    return LYX_IDOK;
}

}  // namespace

MessageBoxRecorder::MessageBoxRecorder() {
    LyxSetMessageBoxHandler(&record, this);
}

MessageBoxRecorder::~MessageBoxRecorder() {
    LyxSetMessageBoxHandler(nullptr, nullptr);
}

ScopedEnv::ScopedEnv(const char *name, const QString &value, bool set)
    : name_(name), old_(qgetenv(name)), had_(qEnvironmentVariableIsSet(name)) {
    if (set) {
        qputenv(name, value.toLocal8Bit());
    } else {
        qunsetenv(name);
    }
}

ScopedEnv::~ScopedEnv() {
    if (had_) {
        qputenv(name_.constData(), old_);
    } else {
        qunsetenv(name_.constData());
    }
}

ViewerTest::ViewerTest() {
    QDir root(folder_.path());
    for (const char *sub : {"config", "tmp", "vhid", "ports", "program"})
        root.mkpath(QString::fromLatin1(sub));
    config_ = std::make_unique<ScopedEnv>("XDG_CONFIG_HOME", path(QStringLiteral("config")));
    registry_ = std::make_unique<ScopedEnv>("LYX_REGISTRY", path(QStringLiteral("classes.ini")));
    tmp_ = std::make_unique<ScopedEnv>("TMPDIR", path(QStringLiteral("tmp")));
    vhid_ = std::make_unique<ScopedEnv>("LYX_VHID_DIR", path(QStringLiteral("vhid")));
    ports_ = std::make_unique<ScopedEnv>("LYX_PORT_DIR", path(QStringLiteral("ports")));
    sim_ = std::make_unique<sim::Simulator>();
}

ViewerTest::~ViewerTest() {
    sim_.reset();
    platform::freeUnusedLibraries();
}

void ViewerTest::registerComponent() {
    ASSERT_TRUE(component_.open(LYX_COMPONENT_FILE)) << component_.error();
    auto registerServer =
        component_.function<platform::DllRegisterServerFunction>("DllRegisterServer");
    ASSERT_NE(registerServer, nullptr);
    ASSERT_EQ(registerServer(), 0);
}

void ViewerTest::addUsbStation(std::uint8_t channel) {
    sim::StationConfig station;
    station.usb = true;
    station.usbFolder = path(QStringLiteral("vhid")).toStdString();
    station.channel = channel;
    ASSERT_TRUE(sim_->addStation(station).ok());
}

void ViewerTest::addModule(std::uint32_t id, std::uint16_t tag, double rate, double value) {
    sim::ModuleConfig module;
    module.id = id;
    module.tag = tag;
    module.rate = rate;
    module.wave.offset = value;
    ASSERT_TRUE(sim_->addModule(module).ok());
}

std::unique_ptr<MainFrm> ViewerTest::makeWindow(const QString &commandLine, std::int16_t port,
                                                std::int32_t baudRate) {
    StartupOptions options;
    options.programFolder = programFolder();
    options.commandLine = commandLine;
    options.port = port;
    options.baudRate = baudRate;
    return std::make_unique<MainFrm>(options);
}

void ViewerTest::closeWindow(MainFrm &window) {
    window.close();
    EXPECT_TRUE(window.shutDown());
}

void RunningWindowTest::SetUp() {
    registerComponent();
    addUsbStation(1);
}

void RunningWindowTest::TearDown() {
    if (window) closeWindow(*window);
    QLocale::setDefault(QLocale::c());
}

void RunningWindowTest::open(const QString &commandLine) {
    window = makeWindow(commandLine);
    ASSERT_EQ(window->load(), MainFrm::LoadResult::Running);
    window->setClock([this] { return now; });
}

void RunningWindowTest::feed(platform::ByteArray frame) {
    std::int32_t length = std::int32_t(frame.items.size());
    window->dataProvider()->TriggerEvent(frame, length);
}

void RunningWindowTest::refreshWith(platform::ByteArray frame) {
    now += 0.31;
    feed(std::move(frame));
}

}  // namespace lyx::viewer::testing
