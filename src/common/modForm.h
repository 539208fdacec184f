#pragma once

class QWidget;

// Places a window in the centre of the primary screen (its whole area, not the work area); a window larger than the
// screen gets a negative position.
void CenterForm(QWidget* form);
