// Placeholder: graph export and printing land with the exports work.
#include "panes/Cwave.h"

namespace zelvox {

void Cwave::ExportGraph() {}
void Cwave::PrintGraph() {}
void Cwave::PrintPage(QPainter&, const QRect&) {}

} // namespace zelvox
