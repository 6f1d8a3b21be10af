#pragma once

class QWidget;

namespace velmora {

enum class DiaryClicks { stop, passThrough };

// Marks a widget as pure decoration: screen readers skip it (its accessible state is invisible)
// and it never takes the focus; with passThrough, clicks reach what lies beneath.
void makeDecorative(QWidget *widget, DiaryClicks clicks = DiaryClicks::passThrough);

bool isDecorative(const QWidget *widget);

} // namespace velmora
