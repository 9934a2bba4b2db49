#pragma once
// A private folder, class registry and virtual USB bus for the viewer's benchmarks, with the
// component registered there and message boxes answered without showing.

#include "lyx/platform/library.hpp"

#include <QString>
#include <QTemporaryDir>

namespace lyx::viewer::bench {

class Workspace {
  public:
    Workspace();
    ~Workspace();
    bool ok() const { return ok_; }
    QString path(const QString &name) const { return folder_.filePath(name); }

  private:
    QTemporaryDir folder_;
    platform::DynamicLibrary component_;
    bool ok_ = false;
};

}  // namespace lyx::viewer::bench
