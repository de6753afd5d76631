// Trace records on POSIX hosts: one text line per record, written to stderr
// or to a file when the environment variable MERRO_TRACE names one.
#include "foundation/trace/trace_backend.h"
#include "foundation/trace/trace_text_sink.h"

namespace merro::trace::backend {

void Send(const Record& record) { text::Write(record); }

// Records are plain text lines here: there is nothing to look up.
void LoadTraceMessage() {}

void Register() {
  if (text::Open()) {
    MarkRegistered(true);
  }
}

void Unregister() {
  MarkRegistered(false);
  text::Close();
}

}  // namespace merro::trace::backend
