// QCustomPlot's header uses Qt's lower-case keywords, which this program turns off; they are
// lent to it for the one include and taken back.
#pragma once

#define signals Q_SIGNALS
#define slots Q_SLOTS
#define emit Q_EMIT
#define foreach Q_FOREACH
#include <qcustomplot.h>
#undef signals
#undef slots
#undef emit
#undef foreach
