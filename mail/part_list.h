// The part list: every entry of the part table described for callers, from
// the entry's offsets and its header block, read again when asked for
// (nothing of it is kept by the parse).

#ifndef CONTENTFILE_MAIL_PART_LIST_H_
#define CONTENTFILE_MAIL_PART_LIST_H_

#include <vector>

#include "contentfile.h"
#include "mail/mail_parser.h"

namespace contentfile_internal {

// Replaces `parts` by one PartInfo per entry of the parser's part table, in
// table order. Raises std::bad_alloc, leaving `parts` in a valid state.
void ListParts(const CMailParser& parser,
               std::vector<contentfile::PartInfo>& parts);

}  // namespace contentfile_internal

#endif  // CONTENTFILE_MAIL_PART_LIST_H_
