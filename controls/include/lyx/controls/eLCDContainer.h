#pragma once

#include "lyx/controls/LcdControl.h"

namespace lyx::controls {

/// A panel that holds other LCD controls and can give them one colour scheme out of the table
/// in eLCDModule. It arranges nothing itself: it raises `Resize` on every size change so that
/// the host can arrange the contents.
///
/// Properties and keys, in saving and loading order (load default in brackets):
/// "BackColor" [0x8000000F], "OnColor" [0], "OffColor" [7969130], "MouseIcon" [none],
/// "MousePointer" [0], "BorderStyle" [0], "Scheme" [0]. A loaded scheme is only stored, not
/// applied again: the stored colours already hold its result. A new control has BackColor
/// 0x80000016.
class eLCDContainer : public LcdControl {
    Q_OBJECT
    Q_PROPERTY(int Scheme READ scheme WRITE setScheme)
    Q_PROPERTY(bool ColorChildren READ colorChildren WRITE setColorChildren)
  public:
    explicit eLCDContainer(QWidget *parent = nullptr);

    int scheme() const { return scheme_; }
    /// Stores the scheme; 1 to 5 colours the container from that row of the table; then the
    /// container's colours are pushed to its children. Other values (0 = no scheme) only push.
    void setScheme(int scheme);

    /// Always false.
    bool colorChildren() const { return false; }
    /// Any value pushes the colours to the children.
    void setColorChildren(bool any);

    /// Sets BackColor, then OnColor, then OffColor of every directly contained widget to the
    /// container's own, by property name, in the container's child order; a child lacking one
    /// of these properties is skipped for it.
    void pushColours();

    void readProperties(const PropertyBag &bag) override;
    void writeProperties(PropertyBag &bag) const override;

  Q_SIGNALS:
    void Resize();

  protected:
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

  private:
    int scheme_ = 0;
};

}  // namespace lyx::controls
