// The text buffer on the counting allocator: pieces appended in order across
// every growth of the block, and a text too large for memory ends the run
// with the allocation report instead of an abort.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/toklist.h"
#include "support/textbuf.h"
#include "testutil.h"

using bayescreen::TextBuffer;

TEST(TextBuffer, PiecesAcrossEveryGrowth) {
  TextBuffer text;
  EXPECT_STREQ(text.c_str(), "");
  text.append(nullptr);
  text.append("", 0);
  text.append_repeated('x', 0);
  EXPECT_EQ(text.size(), 0u);

  std::string expected;
  for (int i = 0; i < 300; i++) {  // crosses 64, 128, 256 ... bytes in steps of every size
    const std::string word(static_cast<size_t>(i % 17), static_cast<char>('a' + i % 26));
    text.append(word.c_str());
    text.append_repeated('-', static_cast<size_t>(i % 3));
    text.appendf("%d;", i);
    expected += word + std::string(static_cast<size_t>(i % 3), '-') + std::to_string(i) + ";";
  }
  ASSERT_EQ(text.size(), expected.size());
  EXPECT_EQ(std::string(text.c_str()), expected);

  const std::string long_piece(1000, 'L');  // longer than appendf formats on the stack
  text.clear();
  EXPECT_STREQ(text.c_str(), "");
  text.appendf("<%s|%127s>", long_piece.c_str(), "r");
  EXPECT_EQ(std::string(text.c_str()), "<" + long_piece + "|" + std::string(126, ' ') + "r>");
  text.append("ab", 1);
  EXPECT_EQ(text.size(), 1 + 1000 + 1 + 127 + 1 + 1);
}

// A word list of 300 MB printed within 64 MB more address space.
TEST(TextBuffer, ATextBeyondMemoryEndsTheRunWithTheAllocationReport) {
  if (!testutil::kAddressSpaceLimits) GTEST_SKIP() << "AddressSanitizer";
  const testutil::Outcome o = testutil::run_child([] {
    static const std::string megabyte(1 << 20, 'w');
    static const std::vector<const char *> words(300, megabyte.c_str());
    testutil::fresh_places();
    testutil::limit_address_space(64u << 20);
    bayescreen::qtoklist(nullptr, words.data(), static_cast<int>(words.size()));
  });
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "  ");  // the title, printed before the list is built
  EXPECT_EQ(o.err.rfind("\nCANNOT ALLOCATE ", 0), 0u) << o.err;
  EXPECT_NE(o.err.find(" bytes (`rexxalloc') from the system.\n"), std::string::npos) << o.err;
}
