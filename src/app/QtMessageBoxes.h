// Message boxes shown with QMessageBox: the kind picks the caption and the icon, each button
// carries its fixed caption ("OK", "Cancel", "&Yes", ...), and CR in the text becomes a line
// break.
#pragma once

#include <QString>
#include <string>

#include "serial/MessageBoxes.h"

class QWidget;

namespace pellwick {

class QtMessageBoxes : public IMessageBoxes {
public:
    // Boxes are centred over `parent` (or the active window when it is null).
    explicit QtMessageBoxes(QWidget* parent = nullptr) : parent_(parent) {}

    void SetParent(QWidget* parent) { parent_ = parent; }

    MsgButton Show(MsgKind kind, const std::string& text, unsigned buttons) override;

    // The text as the box shows it: single bytes as Latin-1, CR LF, lone CR and lone LF each
    // one line break.
    static QString DisplayText(const std::string& text);

private:
    QWidget* parent_;
};

} // namespace pellwick
