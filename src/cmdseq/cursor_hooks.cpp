// The cursor work that replies ask for. The client keeps no cursors yet, so there are no
// buffered rows to flush, no cursors to close and no prefetch to align; the cursor
// requests replace these with the real bookkeeping.
#include "cmdseq/request.h"

void i_cs_FlushFetchDataAllCursors(a_cmdseq_conn*) {}

unsigned i_cs_CloseCursors(a_cmdseq_conn*, a_cmdseq_cursor*, bool) { return 0; }

a_cmdseq_return i_cs_AlignCursors(a_cmdseq_conn*, a_cmdseq_error_info*) { return CMDSEQ_OK; }
