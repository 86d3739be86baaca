// The log info records are exchanged with callers in their exact layout.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>

#include "contentfile.h"

namespace {

// Offset of a field within its record, taken from an object so that the
// derived records need no offsetof.
template <typename Record, typename Field>
size_t OffsetIn(const Record& record, const Field& field) {
  return static_cast<size_t>(reinterpret_cast<const char*>(&field) -
                             reinterpret_cast<const char*>(&record));
}

TEST(RecordLayout, CommonRecordHasTheExchangedOffsets) {
  const ST_LOG_INFO r{};
  EXPECT_EQ(sizeof(r), 600u);
  EXPECT_EQ(OffsetIn(r, r.nLogType), 0u);
  EXPECT_EQ(OffsetIn(r, r.szLine3), 4u);
  EXPECT_EQ(OffsetIn(r, r.szLine4Left), 34u);
  EXPECT_EQ(OffsetIn(r, r.szLine4Right), 54u);
  EXPECT_EQ(OffsetIn(r, r.dwAddr1), 76u);
  EXPECT_EQ(OffsetIn(r, r.dwAddr2), 80u);
  EXPECT_EQ(OffsetIn(r, r.wPort1), 84u);
  EXPECT_EQ(OffsetIn(r, r.wPort2), 86u);
  EXPECT_EQ(OffsetIn(r, r.szLine11), 88u);
  EXPECT_EQ(OffsetIn(r, r.szLine12), 152u);
  EXPECT_EQ(OffsetIn(r, r.szLine13), 216u);
  EXPECT_EQ(OffsetIn(r, r.byReserved1), 280u);
  EXPECT_EQ(OffsetIn(r, r.szLine14), 344u);
  EXPECT_EQ(OffsetIn(r, r.byReserved2), 408u);
  EXPECT_EQ(sizeof(r.byReserved2), 192u);
}

TEST(RecordLayout, KindRecordsBeginWithTheCommonRecord) {
  const ST_HTTPPOST_LOG_INFO http{};
  EXPECT_EQ(sizeof(http), 856u);
  EXPECT_EQ(OffsetIn(http, static_cast<const ST_LOG_INFO&>(http)), 0u);
  EXPECT_EQ(OffsetIn(http, http.wPort2), 86u);
  EXPECT_EQ(OffsetIn(http, http.szLine9), 600u);
  EXPECT_EQ(sizeof(http.szLine9), 256u);

  const ST_MAIL_LOG_INFO mail{};
  EXPECT_EQ(sizeof(mail), 1432u);
  EXPECT_EQ(OffsetIn(mail, static_cast<const ST_LOG_INFO&>(mail)), 0u);
  EXPECT_EQ(OffsetIn(mail, mail.szFrom), 600u);
  EXPECT_EQ(OffsetIn(mail, mail.szTo), 664u);
  EXPECT_EQ(OffsetIn(mail, mail.szCc), 920u);
  EXPECT_EQ(OffsetIn(mail, mail.szSubject), 1176u);
  EXPECT_EQ(sizeof(mail.szSubject), 256u);
}

}  // namespace
