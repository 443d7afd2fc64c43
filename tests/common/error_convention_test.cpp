#include "ledgerkit/common/ErrorConvention.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/ErrorNumbers.h"
#include "engines/postgres/PostgresEngine.h"

namespace ledgerkit {
namespace {

// Returned by ErrorNumberOf when the call did not fail.
constexpr int32_t kNoError = 0;

// Runs `call` and returns the Error it throws, or nothing.
template <class F>
std::optional<Error> ErrorOf(F&& call) {
  try {
    std::forward<F>(call)();
  } catch (const Error& error) {
    return error;
  }
  return std::nullopt;
}

// Runs `call` and returns the number of the Error it throws, or kNoError.
template <class F>
int32_t ErrorNumberOf(F&& call) {
  const std::optional<Error> error = ErrorOf(std::forward<F>(call));
  return error ? error->number() : kNoError;
}

// Runs `call` and returns the description of the Error it throws, or "(no error)".
template <class F>
std::string DescriptionOf(F&& call) {
  const std::optional<Error> error = ErrorOf(std::forward<F>(call));
  return error ? error->description() : "(no error)";
}

TEST(ErrorConvention, MarkAppendsMarkerAndNumberOnce) {
  const Error marked = MarkError(Error(42, "Books", "The posting is out of balance."));
  EXPECT_EQ(marked.description(), "The posting is out of balance.\r\n >VantorERR@42");
  EXPECT_EQ(marked.number(), 42);
  EXPECT_EQ(marked.source(), "Books");

  EXPECT_EQ(MarkError(Error(-7, "Books", "x")).description(), "x\r\n >VantorERR@-7");
  EXPECT_EQ(MarkError(Error(0, "Books", "")).description(), "\r\n >VantorERR@0");
  EXPECT_EQ(MarkError(marked).description(), marked.description());

  // A marker anywhere in the text counts, whatever number follows it; the match is exact.
  const std::string carried = "Outer failure >VantorERR@13 and more text";
  const std::optional<Error> nested = ErrorOf([&] {
    WithMarkedReraise([&] {
      WithMarkedReraise([&] { WithMarkedReraise([&] { throw Error(91, "Inner", carried); }); });
    });
  });
  ASSERT_TRUE(nested.has_value());
  EXPECT_EQ(nested->description(), carried);
  EXPECT_EQ(nested->number(), 91);
  EXPECT_EQ(nested->source(), "Inner");
  EXPECT_EQ(MarkError(Error(1, "s", "a >vantorerr@1")).description(), "a >vantorerr@1\r\n >VantorERR@1");
  EXPECT_EQ(MarkError(Error(1, "s", "a>VantorERR@1")).description(), "a>VantorERR@1\r\n >VantorERR@1");

  // An unmarked error thrown three levels deep is marked by the innermost level only.
  EXPECT_EQ(DescriptionOf([] {
              WithMarkedReraise([] {
                WithMarkedReraise([] { WithMarkedReraise([] { throw Error(6, "s", "Overflow."); }); });
              });
            }),
            "Overflow.\r\n >VantorERR@6");

  EXPECT_TRUE(CarriesMarker("x >VantorERR@5"));
  EXPECT_FALSE(CarriesMarker("x VantorERR@5"));
}

TEST(ErrorConvention, LibraryErrorReachesCallerMarkedOnce) {
  const std::optional<Error> error = ErrorOf([] {
    WithMarkedReraise(
        [] { WithMarkedReraise([] { throw Error::Library(errCACMgr::eBadTransType, messages::kBadTransType); }); });
  });
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->number(), -2147221503);
  EXPECT_EQ(error->source(), "ledgerkit");
  EXPECT_EQ(error->description(), "Bad Transaction Type.\r\n >VantorERR@-2147221503");
}

TEST(ErrorConvention, SuccessfulBodyPassesItsResultThrough) {
  EXPECT_EQ(WithMarkedReraise([] { return 42; }), 42);
  EXPECT_EQ(WithDiagnosticBlock("Op", [] { return std::string("done"); }), "done");
  int target = 0;
  WithMarkedReraise([&]() -> int& { return target; }) = 5;
  EXPECT_EQ(target, 5);
  EXPECT_EQ(ErrorNumberOf([] { WithMarkedReraise([] {}); }), kNoError);
}

TEST(ErrorConvention, DiagnosticBlocksStackOutermostFirst) {
  const std::optional<Error> error = ErrorOf([] {
    WithDiagnosticBlock("Outer", [] {
      WithDiagnosticBlock("Inner", [] { throw Error(-2147221502, "Books", "The account type differs."); });
    });
  });
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->description(),
            "Outer\r\n"
            "Error#:      -2147221502\r\n"
            "Source:      Books\r\n"
            "Description: Inner\r\n"
            "Error#:      -2147221502\r\n"
            "Source:      Books\r\n"
            "Description: The account type differs.");
  EXPECT_EQ(error->number(), -2147221502);
  EXPECT_EQ(error->source(), "Books");

  // An operation that marks, called from one that adds a block and is marked in turn: the
  // block goes in front, the marker stays single at the end.
  EXPECT_EQ(DescriptionOf([] {
              WithMarkedReraise([] {
                WithDiagnosticBlock("Post", [] { WithMarkedReraise([] { throw Error(6, "s", "Too big."); }); });
              });
            }),
            "Post\r\nError#:      6\r\nSource:      s\r\nDescription: Too big.\r\n >VantorERR@6");
}

TEST(ErrorConvention, OtherExceptionsBecomeErrorsButBadAllocPasses) {
  const std::optional<Error> error = ErrorOf([] { WithMarkedReraise([] { throw std::runtime_error("disk full"); }); });
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->number(), kInvalidArgument);
  EXPECT_EQ(error->source(), "ledgerkit");
  EXPECT_EQ(error->description(), "disk full\r\n >VantorERR@5");

  EXPECT_EQ(ErrorNumberOf([] { WithMarkedReraise([] { throw 17; }); }), kInvalidArgument);
  EXPECT_EQ(ErrorNumberOf([] { WithDiagnosticBlock("Op", [] { throw std::out_of_range("index"); }); }),
            kInvalidArgument);
  EXPECT_EQ(DescriptionOf([] { WithDiagnosticBlock("Op", [] { throw std::out_of_range("index"); }); }),
            "Op\r\nError#:      5\r\nSource:      ledgerkit\r\nDescription: index");

  EXPECT_THROW(WithMarkedReraise([] { throw std::bad_alloc(); }), std::bad_alloc);
  EXPECT_THROW(WithDiagnosticBlock("Op", [] { throw std::bad_alloc(); }), std::bad_alloc);
  EXPECT_THROW(WithMarkedReraise([] { WithDiagnosticBlock("Op", [] { throw std::bad_alloc(); }); }), std::bad_alloc);
}

TEST(ErrorConvention, FormatMessageFillsOnlyGivenValues) {
  EXPECT_EQ(FormatMessage("No account %1.", Variant::Null()), "No account %1.");
  EXPECT_EQ(FormatMessage("%1 and %1", "x"), "x and x");
  EXPECT_EQ(FormatMessage("%1 then %2", "x"), "x then %2");
  EXPECT_EQ(FormatMessage("%1 then %2", Variant::Null(), "y"), "%1 then y");
  EXPECT_EQ(FormatMessage("%1/%2/%3", 42, true, CurrencyFromText("-12.5")), "42/True/-12.5");
  EXPECT_EQ(FormatMessage("No value."), "No value.");
  EXPECT_EQ(FormatMessage("[%1]", Variant()), "[]");
  EXPECT_EQ(ErrorNumberOf([] { FormatMessage(Variant::Null(), "x"); }), kInvalidUseOfNull);

  EXPECT_EQ(FormatMessage(messages::kUserIsReferenced, "a\r\nb"),
            "This user cannot be deleted because it is referenced by the following:\r\n\r\n"
            "a\r\nb\r\n\r\n"
            "Please remove these references before deleting the user.");
}

TEST(ErrorConvention, ReplaceTokenDoesNotRescanInsertedText) {
  EXPECT_EQ(ReplaceToken("no token here", "%1", "x"), "no token here");
  EXPECT_EQ(ReplaceToken("a%1b%1", "%1", "%1%1"), "a%1%1b%1%1");
  EXPECT_EQ(ReplaceToken("%1%1", "%1", ""), "");
  EXPECT_EQ(ReplaceToken("aaa", "aa", "b"), "ba");
  EXPECT_EQ(ReplaceToken("total %1", "%1", 2.5), "total 2.5");
  EXPECT_EQ(ReplaceToken("abc", "", "x"), "abc");
  EXPECT_EQ(ErrorNumberOf([] { ReplaceToken(Variant::Null(), "%1", "x"); }), kInvalidUseOfNull);
  EXPECT_EQ(ErrorNumberOf([] { ReplaceToken("a%1", Variant::Null(), "x"); }), kInvalidUseOfNull);
  EXPECT_EQ(ErrorNumberOf([] { ReplaceToken("a%1", "%1", Variant::Null()); }), kInvalidUseOfNull);
}

TEST(ErrorConvention, ErrorNumbersHaveTheirPublishedValues) {
  EXPECT_EQ(errCACMgr::eValidationError, -2147221504);
  EXPECT_EQ(errCACMgr::eBadTransType, -2147221503);
  EXPECT_EQ(errCACMgr::eAcctTypeMismatch, -2147221502);
  EXPECT_EQ(errCACMgr::eSevereError, -2147220504);
  EXPECT_EQ(errCUserManager::eUserNameExists, -2147221502);
  EXPECT_EQ(errCUserManager::eUserIsReferenced, -2147221501);
  EXPECT_EQ(errCUserManager::eSevereError, -2147220504);
  EXPECT_EQ(errCSecurityMgr::eInvalidUserInfo, -2147221503);
  EXPECT_EQ(errCSecurityMgr::eUserNotLoggedIn, -2147221501);
  EXPECT_EQ(errCSecurityMgr::eSessionExpired, -2147220503);

  // Engine errors: the primary result code above the engine base, extended codes reduced.
  EXPECT_EQ(EngineErrorNumber(1), static_cast<int32_t>(0x80050001u));
  EXPECT_EQ(EngineErrorNumber(1 | (1 << 8)), EngineErrorNumber(1));
  EXPECT_EQ(EngineErrorNumber(19 | (8 << 8)), static_cast<int32_t>(0x80050013u));
  const Error engine = Error::Engine(19 | (6 << 8), "UNIQUE constraint failed: ACAccount.Name");
  EXPECT_EQ(engine.number(), static_cast<int32_t>(0x80050013u));
  EXPECT_EQ(engine.source(), "SQLite");
  EXPECT_EQ(engine.description(), "UNIQUE constraint failed: ACAccount.Name");

  const Error runtime = Error::Runtime(kOverflow, "Overflow.");
  EXPECT_EQ(runtime.number(), 6);
  EXPECT_EQ(runtime.source(), "ledgerkit");
  EXPECT_STREQ(runtime.what(), "Overflow.");
}

// What a person is shown of an error that went through the epilogues of nested operations: the
// message alone, on one line; the argument and operation the innermost code named survive
// every re-raise.
TEST(ErrorConvention, MessageForPersonIsTheMessageAloneAndTheNamesSurviveReraises) {
  const Error inner = Error::Runtime(kInvalidArgument, "The text for Name has 300 characters; at most 255 fit.")
                          .WithArgument("Name")
                          .WithOperation("CACMgr.UpdateAccount");
  const std::optional<Error> nested = ErrorOf([&] {
    WithDiagnosticBlock("VantorINV::Outer::Run", [&] {
      WithDiagnosticBlock("VantorINV::ACAccount::Fetch", [&] { WithMarkedReraise([&]() -> int { throw inner; }); });
    });
  });
  ASSERT_TRUE(nested);
  EXPECT_EQ(nested->description().rfind("VantorINV::Outer::Run\r\nError#:      5\r\nSource:      ledgerkit\r\n"
                                        "Description: VantorINV::ACAccount::Fetch\r\n",
                                        0),
            0u)
      << nested->description();
  EXPECT_EQ(MessageForPerson(*nested), inner.description());
  EXPECT_EQ(nested->argument(), "Name");
  EXPECT_EQ(nested->operation(), "CACMgr.UpdateAccount");
  // Marked after the blocks, and rewritten by an operation that names the line it was at.
  const Error marked = MarkError(*nested);
  const Error rewritten = marked.WithDescription("Line 3 of the journal: " + marked.description());
  EXPECT_EQ(MessageForPerson(rewritten), "Line 3 of the journal: " + inner.description());
  EXPECT_EQ(rewritten.argument(), "Name");
  EXPECT_EQ(MessageForPerson(marked), inner.description());
  EXPECT_EQ(rewritten.number(), kInvalidArgument);

  // The first name given stays; an empty one names nothing.
  const Error named = Error::Runtime(kTypeMismatch, "x").WithArgument("AsOfDate").WithArgument("ToDate");
  EXPECT_EQ(named.argument(), "AsOfDate");
  EXPECT_FALSE(Error::Runtime(kTypeMismatch, "x").WithArgument("").argument().has_value());
  EXPECT_FALSE(Error::Runtime(kTypeMismatch, "x").operation().has_value());

  // Line breaks of every kind, tabs and control characters become single blanks, trimmed.
  EXPECT_EQ(MessageForPerson(MarkError(Error(7, "Books", "  First line\r\n\r\n\tsecond\x01line\xE2\x80\xA8third"
                                                        "\xC2\x85" "end\x7F \n"))),
            "First line second line third end");
  // Text beside the characters that look like separators stays whole: é is C3 A9, € E2 82 AC.
  EXPECT_EQ(MessageForPerson(Error(7, "Books", "caf\xC3\xA9 \xE2\x82\xAC")), "caf\xC3\xA9 \xE2\x82\xAC");

#ifdef LEDGERKIT_WITH_POSTGRESQL
  // The server's errors: the message without the SQLSTATE, unless it is all there is.
  const Error duplicate = MarkError(PostgresError("23505", "duplicate key value violates unique constraint \"uq\""));
  EXPECT_EQ(MessageForPerson(duplicate), "duplicate key value violates unique constraint \"uq\"");
  EXPECT_NE(duplicate.description().find("[SQLSTATE 23505]\r\n >VantorERR@"), std::string::npos);
  EXPECT_EQ(MessageForPerson(PostgresError("57014", "")), "[SQLSTATE 57014]");
#endif
  EXPECT_EQ(MessageForPerson(Error(1, "SQLite", "no such table [SQLSTATE 42P01]")), "no such table [SQLSTATE 42P01]");

  // Never empty when the description is not.
  EXPECT_EQ(MessageForPerson(MarkError(Error(0, "Books", ""))), ">VantorERR@0");
  EXPECT_EQ(MessageForPerson(Error(9, "Books", "\r\n\t")), "Error 9 (Books).");
  EXPECT_EQ(MessageForPerson(Error(9, "Books", "")), "");
}

}  // namespace
}  // namespace ledgerkit
