#pragma once

#include <QThreadPool>

namespace varko::host {

/// Lets go of a window's pool: queued work is dropped, and work still running is
/// neither waited for nor able to deliver (its continuations die with the window);
/// the pool itself is deleted once its threads are idle.
void retirePool(QThreadPool* pool);

}  // namespace varko::host
