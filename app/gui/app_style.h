// The look of the desktop program: its colours, its pictures (under app/gui/resources/, built
// into the program) and the style sheet made from both.
//
// Threads: main thread (pictures and style sheets are Qt GUI objects).
#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace app_colors {
// Lists and boxes.
inline const QColor kBoxBackground{246, 247, 248};  // format list, format and folder boxes
inline const QColor kOddRow{226, 230, 246};
inline const QColor kEvenRow{255, 255, 255};
inline const QColor kSelectedFill{185, 204, 236};  // selected and focused
inline const QColor kSelectedFrame{122, 160, 218};
inline const QColor kInactiveFill{229, 236, 248};  // selected, list without the focus
inline const QColor kInactiveFrame{152, 181, 226};
inline const QColor kFormatText{0, 0, 128};
// The progress window's picture before and around the preview.
inline const QColor kPreviewBackground{166, 202, 240};
// The window itself: a calm light blue-grey with a deeper accent for the primary action.
inline const QColor kWindow{238, 241, 247};
inline const QColor kAccent{58, 95, 158};
inline const QColor kAccentLight{122, 160, 218};
inline const QColor kText{33, 41, 56};
inline const QColor kMutedText{96, 108, 130};
}  // namespace app_colors

// A picture of resources/icons/ by base name ("play", "share_reddit"); an empty icon when the
// name is unknown.
QIcon AppIcon(const QString& name);
// The program's own icon (resources/dvdswf.svg).
QIcon ProgramIcon();
// An SVG of resources/ ("splash.svg", "list_background.svg") drawn at `size` logical pixels
// for a device of `devicePixelRatio`; a null pixmap when the file is missing.
QPixmap RenderPicture(const QString& file, QSize size, qreal devicePixelRatio);
// The natural size of an SVG of resources/.
QSize PictureSize(const QString& file);

// The style sheet of every window of the program.
QString AppStyleSheet();

class QHBoxLayout;
class QPushButton;
class QWidget;
// The button row of the program's dialogs: "&Default" at the left, "&Ok" (pressed by
// Return) and "&Cancel" at the right; objectNames "btnDefault", "btnOk", "btnCancel".
struct TDialogButtons {
  QPushButton* Default;
  QPushButton* Ok;
  QPushButton* Cancel;
  QHBoxLayout* Row;
};
TDialogButtons MakeDialogButtons(QWidget* dialog);
