#include "LuQueue.h"

#include "LuUtils.h"

#include <functional>
#include <gtest/gtest.h>

namespace {

void ExpectQueueError(const std::function<void()> &action, const char *message) {
    try {
        action();
        ADD_FAILURE() << "no ELuQueueError, expected: " << message;
    } catch (const ELuQueueError &e) {
        EXPECT_STREQ(e.what(), message);
    }
}

const char *const BadIndex = "TLuQueueError. Invalid item index.";

} // namespace

TEST(LuQueue, CapacityAndWrapAround) {
    TLuQueue q(4);
    for (unsigned char b = 1; b <= 4; ++b)
        q.Put(b);
    EXPECT_EQ(q.Space(), 0);
    ExpectQueueError([&] { q.Put(5); }, "TLuQueueError. Queue is full.");
    // Many times round the ring, so that both indexes wrap.
    for (unsigned char next = 5; next < 40; ++next) {
        EXPECT_EQ(q.Get(), next - 4);
        q.Put(next);
        EXPECT_EQ(q.Count(), 4);
        EXPECT_EQ(q.GetItem(0), next - 3);
        EXPECT_EQ(q.GetItem(3), next);
    }
    q.Clear();
    EXPECT_EQ(q.Space(), q.Size());
    ExpectQueueError([&] { q.Get(); }, "TLuQueueError. Queue is empty.");
}

TEST(LuQueue, ItemsAndBuffers) {
    TLuQueue q(6);
    q.PutBuf("xy", 2);
    ExpectQueueError([&] { q.PutBuf("123456", 6); }, "TLuQueueError. Queue is full.");
    EXPECT_EQ(q.Count(), 6); // the bytes before the failure stay
    EXPECT_EQ(q.GetBuf(nullptr, 3), 3);
    ExpectQueueError([&] { q.GetItem(3); }, BadIndex);
    ExpectQueueError([&] { q.PutItem(-1, 'x'); }, BadIndex);
    q.PutItem(2, 'z');
    char out[8] = {};
    EXPECT_EQ(q.GetBuf(out, 8), 3);
    EXPECT_STREQ(out, "23z");
}

TEST(LuQueue, TextGoesThroughTheAnsiCodePage) {
    TLuQueue q(16);
    EXPECT_EQ(q.PutText(QString::fromUtf8("Жук ä\r\n")), 7);
    EXPECT_EQ(q.GetItem(0), 0xC6);
    EXPECT_EQ(q.GetText(), QString::fromUtf8("Жук ?\r\n"));
    EXPECT_EQ(q.Count(), 0);
}
