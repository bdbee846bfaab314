#include "sms_concat.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "sandbox.h"

namespace {

ConcatPart part(const char* sender, int ref, int total, int number, const char* text, long long arrived = 1000)
{
    ConcatPart p;
    memset(&p, 0, sizeof p);
    snprintf(p.sender, sizeof p.sender, "%s", sender);
    snprintf(p.stamp, sizeof p.stamp, "2612081020%02d00", number);
    p.ref = ref;
    p.total = total;
    p.part = number;
    p.arrived = arrived;
    snprintf(p.text, sizeof p.text, "%s", text);
    return p;
}

// The store is large: keep it off the test's stack.
struct Fixture {
    std::unique_ptr<ConcatStore> store{new ConcatStore()};
    std::unique_ptr<JoinedMessage> joined{new JoinedMessage()};
};

TEST(ConcatStore, PartsInAnyOrderJoinOnceInPartOrder)
{
    Fixture f;
    ConcatPart p3 = part("+111", 7, 3, 3, "三");
    ConcatPart p1 = part("+111", 7, 3, 1, "one ");
    ConcatPart other = part("+222", 7, 3, 1, "other sender");
    ConcatPart p2 = part("+111", 7, 3, 2, "two ");
    EXPECT_EQ(concat_add(f.store.get(), &p3, f.joined.get()), ConcatAdd::Held);
    EXPECT_EQ(concat_add(f.store.get(), &p1, f.joined.get()), ConcatAdd::Held);
    EXPECT_EQ(concat_add(f.store.get(), &other, f.joined.get()), ConcatAdd::Held);
    ASSERT_EQ(concat_add(f.store.get(), &p2, f.joined.get()), ConcatAdd::Complete);
    EXPECT_STREQ(f.joined->text, "one two 三");
    EXPECT_STREQ(f.joined->sender, "+111");
    EXPECT_STREQ(f.joined->stamp, p1.stamp); // the first part's time stamp
    EXPECT_EQ(f.joined->arrived_parts, 3);
    EXPECT_EQ(f.store->count, 1); // only the other sender's part is left
}

TEST(ConcatStore, BadHeadersAndRepeatsAreRefused)
{
    Fixture f;
    ConcatPart zero_part = part("+111", 1, 2, 0, "x");
    ConcatPart beyond = part("+111", 1, 2, 3, "x");
    ConcatPart no_count = part("+111", 1, 0, 1, "x");
    ConcatPart first = part("+111", 1, 2, 1, "x");
    EXPECT_EQ(concat_add(f.store.get(), &zero_part, f.joined.get()), ConcatAdd::BadHeader);
    EXPECT_EQ(concat_add(f.store.get(), &beyond, f.joined.get()), ConcatAdd::BadHeader);
    EXPECT_EQ(concat_add(f.store.get(), &no_count, f.joined.get()), ConcatAdd::BadHeader);
    EXPECT_EQ(concat_add(f.store.get(), &first, f.joined.get()), ConcatAdd::Held);
    EXPECT_EQ(concat_add(f.store.get(), &first, f.joined.get()), ConcatAdd::BadHeader);
    EXPECT_EQ(f.store->count, 1);
}

TEST(ConcatStore, OverdueOrCrowdedMessagesAreTakenWithWhatArrived)
{
    Fixture f;
    ConcatPart a1 = part("+111", 1, 3, 1, "a1 ", 1000);
    ConcatPart a3 = part("+111", 1, 3, 3, "a3", 1100);
    concat_add(f.store.get(), &a1, f.joined.get());
    concat_add(f.store.get(), &a3, f.joined.get());
    EXPECT_EQ(concat_take_due(f.store.get(), 1000 + CONCAT_TIMEOUT_SECONDS - 1, nullptr, f.joined.get()), 0);
    ASSERT_EQ(concat_take_due(f.store.get(), 1000 + CONCAT_TIMEOUT_SECONDS, nullptr, f.joined.get()), 1);
    EXPECT_STREQ(f.joined->text, "a1 a3");
    EXPECT_EQ(f.joined->arrived_parts, 2);
    EXPECT_EQ(f.joined->total, 3);
    EXPECT_EQ(f.store->count, 0);

    // Sixteen messages held: a seventeenth makes the oldest go first.
    for (int m = 0; m < CONCAT_MESSAGES_MAX; m++) {
        ConcatPart p = part("+333", m, 2, 1, "held", 2000 + m);
        ASSERT_EQ(concat_add(f.store.get(), &p, f.joined.get()), ConcatAdd::Held);
    }
    ConcatPart again = part("+333", 5, 2, 2, "done");
    EXPECT_EQ(concat_take_due(f.store.get(), 2100, &again, f.joined.get()), 0); // a known message needs no room
    ConcatPart newcomer = part("+333", 99, 2, 1, "new");
    ASSERT_EQ(concat_take_due(f.store.get(), 2100, &newcomer, f.joined.get()), 1);
    EXPECT_EQ(f.store->count, CONCAT_MESSAGES_MAX - 1);
    EXPECT_EQ(concat_take_due(f.store.get(), 2100, &newcomer, f.joined.get()), 0);
}

TEST(ConcatStore, FileKeepsPartsAcrossARestartAndDropsDamagedLines)
{
    Sandbox box;
    setenv("ROUTER_ROOT", box.root().c_str(), 1);
    Fixture f;
    ConcatPart p = part("+111", 300, 2, 1, "line one\nwith a newline, and a € sign");
    ConcatPart q = part("+111", 300, 2, 2, "");
    concat_add(f.store.get(), &p, f.joined.get());
    concat_add(f.store.get(), &q, f.joined.get());
    ConcatPart r = part("12 34", 1, 3, 2, "kept");
    concat_add(f.store.get(), &r, f.joined.get());
    ASSERT_EQ(f.store->count, 1);
    ASSERT_EQ(concat_save(f.store.get(), CONCAT_STORE_PATH), 0);
    box.append(CONCAT_STORE_PATH, "1 2 1 5 zz - -\n7 0 1 5 2B31 - 41\n");

    Fixture g;
    concat_load(g.store.get(), CONCAT_STORE_PATH);
    ASSERT_EQ(g.store->count, 1);
    EXPECT_STREQ(g.store->parts[0].text, "kept");
    EXPECT_STREQ(g.store->parts[0].stamp, r.stamp);
    EXPECT_EQ(g.store->parts[0].arrived, r.arrived);

    char line[CONCAT_LINE_SIZE];
    ASSERT_GT(concat_format_line(&p, line, sizeof line), 0);
    ConcatPart back;
    ASSERT_TRUE(concat_parse_line(line, &back));
    EXPECT_STREQ(back.text, p.text);
    EXPECT_STREQ(back.sender, "+111");
    EXPECT_EQ(back.ref, 300);

    Fixture empty;
    box.shell("rm -f \"$ROUTER_ROOT/tmp/sms_parts\"");
    concat_load(empty.store.get(), CONCAT_STORE_PATH);
    EXPECT_EQ(empty.store->count, 0);
    unsetenv("ROUTER_ROOT");
}

} // namespace
