#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/core/Exception.h"
#include "platform/core/ExceptionRules.h"

using namespace prereq;

namespace {

TEST(ExceptionNames, TypeNameTable) {
  const std::pair<int, std::wstring> cases[] = {
      {0, L"EXCEPTION_STD"},        {1, L"EXCEPTION_UNHANDLED"},
      {2, L"EXCEPTION_GENERIC"},    {3, L"EXCEPTION_WIN32"},
      {4, L"EXCEPTION_CMD"},        {5, L"EXCEPTION_XML_PARSE"},
      {6, L"EXCEPTION_ERROR_SIGNALING"}, {7, L"EXCEPTION_SEH"},
      {-1, L"Exception ???"},       {8, L"Exception ???"},
  };
  for (const auto& [type, name] : cases) EXPECT_EQ(ExceptionTypeName(type), name) << type;
}

TEST(ExceptionNames, FaultKindTable) {
  const std::pair<uint32_t, std::wstring> cases[] = {
      {0, L"SEH_GENERIC"},          {1, L"SEH_AV_READ_NULLPTR"},
      {2, L"SEH_AV_READ_BADPTR"},   {3, L"SEH_AV_WRITE_NULLPTR"},
      {4, L"SEH_AV_WRITE_BADPTR"},  {5, L"SEH_AV_DEP_NULLPTR"},
      {6, L"SEH_AV_DEP_BADPTR"},    {7, L"SEH_GENERIC"},
      {0xFFFFFFFF, L"SEH_GENERIC"},
  };
  for (const auto& [kind, name] : cases) EXPECT_EQ(SehFaultKindName(kind), name) << kind;
}

TEST(ExceptionNames, StructuredExceptionTable) {
  const std::pair<uint32_t, const char*> cases[] = {
      {0xC0000005, "ACCESS_VIOLATION"},      {0x80000002, "DATATYPE_MISALIGNMENT"},
      {0x80000003, "BREAKPOINT"},            {0x80000004, "SINGLE_STEP"},
      {0x80000001, "GUARD_PAGE"},            {0xC000008C, "ARRAY_BOUNDS_EXCEEDED"},
      {0xC000008D, "FLT_DENORMAL_OPERAND"},  {0xC000008E, "FLT_DIVIDE_BY_ZERO"},
      {0xC000008F, "FLT_INEXACT_RESULT"},    {0xC0000090, "FLT_INVALID_OPERATION"},
      {0xC0000091, "FLT_OVERFLOW"},          {0xC0000092, "FLT_STACK_CHECK"},
      {0xC0000093, "FLT_UNDERFLOW"},         {0xC0000094, "INT_DIVIDE_BY_ZERO"},
      {0xC0000095, "INT_OVERFLOW"},          {0xC0000096, "PRIV_INSTRUCTION"},
      {0xC0000006, "IN_PAGE_ERROR"},         {0xC000001D, "ILLEGAL_INSTRUCTION"},
      {0xC0000025, "NONCONTINUABLE_EXCEPTION"}, {0xC00000FD, "STACK_OVERFLOW"},
      {0xC0000026, "INVALID_DISPOSITION"},   {0xC0000008, "INVALID_HANDLE"},
  };
  for (const auto& [code, name] : cases) {
    ASSERT_NE(SehCodeName(code), nullptr) << std::hex << code;
    EXPECT_STREQ(SehCodeName(code), name);
  }
  for (uint32_t unknown : {0u, 0xC0000004u, 0xC0000097u, 0xE06D7363u, 0x20474343u})
    EXPECT_EQ(SehCodeName(unknown), nullptr) << std::hex << unknown;
}

TEST(SehText, FirstLine) {
  EXPECT_EQ(FormatSehFirstLine(0xC0000005, 0x401A5C),
            L"ACCESS_VIOLATION (0xc0000005) at address [0x00401a5c]\r\n");
  EXPECT_EQ(FormatSehFirstLine(0xC0000094, 0),
            L"INT_DIVIDE_BY_ZERO (0xc0000094) at address [0x00000000]\r\n");
  EXPECT_EQ(FormatSehFirstLine(0xE0000001, 0xFFFFFFFF),
            L"Unknown SEH Exception (0xe0000001) at address [0xffffffff]\r\n");
  // 64-bit addresses keep all their digits.
  EXPECT_EQ(FormatSehFirstLine(0x80000003, 0x140001C55ull),
            L"BREAKPOINT (0x80000003) at address [0x140001c55]\r\n");
  EXPECT_EQ(FormatUnhandledFirstLine(0xC0000005, 0x1000),
            L"[EXCEPTION_UNHANDLED] (0xc0000005) at address [0x00001000]\r\n");
  // Codes are eight digits too.
  EXPECT_EQ(FormatSehFirstLine(0x0ABC, 0x1000), L"Unknown SEH Exception (0x00000abc) at address [0x00001000]\r\n");
}

TEST(SehText, FaultKindOfAccessViolations) {
  struct Case {
    uint32_t code;
    size_t parameters;
    uint64_t access, address;
    SehFaultKind kind;
  };
  const Case cases[] = {
      {0xC0000005, 2, 0, 0, SehFaultKind::AvReadNullPtr},
      {0xC0000005, 2, 0, 1, SehFaultKind::AvReadBadPtr},
      {0xC0000005, 2, 1, 0, SehFaultKind::AvWriteNullPtr},
      {0xC0000005, 2, 1, 0xFFFFFFFF, SehFaultKind::AvWriteBadPtr},
      {0xC0000005, 2, 8, 0, SehFaultKind::AvDepNullPtr},
      {0xC0000005, 2, 8, 0x10, SehFaultKind::AvDepBadPtr},
      {0xC0000005, 2, 2, 0, SehFaultKind::Generic},  // unknown access type
      {0xC0000005, 1, 0, 0, SehFaultKind::Generic},  // no address word
      {0xC0000094, 2, 0, 0, SehFaultKind::Generic},  // not an access violation
      {0xC0000006, 3, 0, 0, SehFaultKind::Generic},  // in-page error, same words
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ClassifySehFault(c.code, c.parameters, c.access, c.address), c.kind)
        << std::hex << c.code << " " << c.access << " " << c.address;
  }
}

TEST(SehText, MessageStartsWithTheKind) {
  EXPECT_EQ(ComposeSehMessage(SehFaultKind::AvReadNullPtr, L"ACCESS_VIOLATION (0xc0000005) at "
                                                           L"address [0x00401000]\r\n",
                              L"TRACE"),
            L"[SEH_AV_READ_NULLPTR] ACCESS_VIOLATION (0xc0000005) at address [0x00401000]\r\n"
            L"TRACE");
}

TEST(StackTraceText, FrameLines) {
  StackFrameInfo frame;
  frame.address = 0x401000;
  EXPECT_EQ(FormatFrameLine(frame), L"[0x00401000]  -----\r\n");
  frame.symbol = L"prereq::Run";
  EXPECT_EQ(FormatFrameLine(frame), L"[0x00401000]  prereq::Run()\r\n");
  frame.file = L"Z:\\work\\src\\chainer\\ChainerApp.cpp";
  frame.line = 105;
  EXPECT_EQ(FormatFrameLine(frame), L"[0x00401000]  prereq::Run() -> ChainerApp.cpp:105\r\n");
  frame.file = L"thread.c";  // no folder
  EXPECT_EQ(FormatFrameLine(frame), L"[0x00401000]  prereq::Run() -> thread.c:105\r\n");
  EXPECT_EQ(FormatModuleBaseLine(0x400000), L"[0x00400000]  MODULE_BASE_ADDRESS\r\n");
  EXPECT_EQ(kMoreFramesLine, L"<--------------------MORE--FRAMES-------------------->\r\n");
}

TEST(StackTraceText, LocationOfTheFirstFrame) {
  const std::wstring header(kStackTraceHeader);
  struct Case {
    std::wstring trace;
    bool found;
    std::wstring file;
    int line;
  };
  const Case cases[] = {
      {header + L"[0x00401000]  Read() -> TestFaults.h:43\r\n[0x1]  X() -> Y.cpp:1\r\n", true,
       L"TestFaults.h", 43},
      // Blanks, tabs and line ends around both parts are trimmed.
      {header + L"[0x00401000]  Read() ->  \tA.cpp \t: 7 \r\n", true, L"A.cpp", 7},
      {header + L"[0x00401000]  Read() -> A.cpp:0\r\n", true, L"A.cpp", 0},
      {header + L"[0x00401000]  Read() -> A.cpp:999999999\r\n", true, L"A.cpp", 999999999},
      {header + L"[0x00401000]  Read() -> A.cpp:1000000000\r\n", false, L"", 0},  // ten digits
      // The last colon splits.
      {header + L"[0x00401000]  Read() -> a:b.cpp:12\r\n", true, L"a:b.cpp", 12},
      // Only the first frame counts.
      {header + L"[0x00401000]  -----\r\n[0x1]  X() -> Y.cpp:1\r\n", false, L"", 0},
      {header + L"[0x00401000]  Read()\r\n", false, L"", 0},
      {header + L"[0x00401000]  Read() -> A.cpp:\r\n", false, L"", 0},
      {header + L"[0x00401000]  Read() -> A.cpp:1x\r\n", false, L"", 0},
      {header + L"[0x00401000]  Read() -> A.cpp:-1\r\n", false, L"", 0},
      {header + L"[0x00401000]  Read() -> :5\r\n", false, L"", 0},
      {header + L"[0x00400000]  MODULE_BASE_ADDRESS\r\n", false, L"", 0},
      {L"[0x00401000]  Read() -> A.cpp:5\r\n", false, L"", 0},  // no header
      {L"", false, L"", 0},
  };
  for (const Case& c : cases) {
    const std::optional<SourceLocation> where = FirstFrameLocation(c.trace);
    ASSERT_EQ(where.has_value(), c.found) << std::string(c.trace.begin(), c.trace.end());
    if (!c.found) continue;
    EXPECT_EQ(where->file, c.file);
    EXPECT_EQ(where->line, c.line);
  }
}

// Clone's stack traces come from an installed provider; this one counts.
int traceCalls = 0;
std::wstring FakeTrace(int maxFrames) {
  ++traceCalls;
  EXPECT_EQ(maxFrames, kReportStackFrames);
  return std::wstring(kStackTraceHeader) + L"[0x00000001]  Fake()\r\n";
}

class CloneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    traceCalls = 0;
    SetStackTraceProvider(&FakeTrace);
  }
  void TearDown() override { SetStackTraceProvider(nullptr); }
};

TEST_F(CloneTest, WithStackTraceTwiceAppendsOneTrace) {
  const Exception original(L"Index out of range", "src/x.cpp", 12, kErrorRange);
  const std::unique_ptr<IException> once = original.Clone(true);
  const std::unique_ptr<IException> twice = once->Clone(true);
  const auto& e = dynamic_cast<const Exception&>(*twice);
  EXPECT_EQ(traceCalls, 1);
  EXPECT_EQ(e.Message(),
            L"Index out of range\r\n" + std::wstring(kStackTraceHeader) + L"[0x00000001]  Fake()\r\n");
  EXPECT_EQ(e.Code(), kErrorRange);
  EXPECT_EQ(e.SourceFile(), L"src/x.cpp");
  EXPECT_EQ(e.SourceLine(), 12);
  EXPECT_EQ(original.Message(), L"Index out of range");  // the original keeps its text
}

TEST_F(CloneTest, WithoutStackTraceCopiesOnly) {
  const Exception original(L"m", "f", 1);
  EXPECT_EQ(dynamic_cast<const Exception&>(*original.Clone(false)).Message(), L"m");
  EXPECT_EQ(dynamic_cast<const Exception&>(*original.Clone()).Message(), L"m");
  EXPECT_EQ(traceCalls, 0);
}

TEST_F(CloneTest, WithoutProviderNoTrace) {
  SetStackTraceProvider(nullptr);
  const Exception original(L"m", "f", 1);
  EXPECT_EQ(dynamic_cast<const Exception&>(*original.Clone(true)).Message(), L"m");
}

TEST_F(CloneTest, FaultTranslationKeepsItsTrace) {
  const std::wstring text = L"[SEH_AV_READ_NULLPTR] ACCESS_VIOLATION (0xc0000005) at address "
                            L"[0x00000010]\r\n" + std::wstring(kStackTraceHeader) + L"[0x10]  -----\r\n";
  const SehException fault(text, std::wstring(L"A.cpp"), 3, SehFaultKind::AvReadNullPtr);
  const std::unique_ptr<IException> copy = fault.Clone(true);
  EXPECT_EQ(traceCalls, 0);
  const auto& e = dynamic_cast<const SehException&>(*copy);
  EXPECT_EQ(e.Message(), text);
  EXPECT_EQ(e.GetType(), 7);
  EXPECT_STREQ(e.GetTypeName(), L"SEH_AV_READ_NULLPTR");
  EXPECT_EQ(e.FaultKind(), 1u);
}

TEST(ExceptionFamily, ThrowKeepsTheDynamicType) {
  const SehException fault(L"x", std::wstring(L"A.cpp"), 3, SehFaultKind::AvWriteBadPtr);
  const IException& base = fault;
  try {
    base.Throw();
    FAIL() << "no throw";
  } catch (const SehException& e) {
    EXPECT_EQ(e.FaultKind(), 4u);
  }
  const Exception generic(L"y", "f", 1);
  try {
    static_cast<const IException&>(generic).Throw();
    FAIL() << "no throw";
  } catch (const SehException&) {
    FAIL() << "a generic exception came back as a fault";
  } catch (const Exception& e) {
    EXPECT_EQ(e.GetType(), 2);
    EXPECT_STREQ(e.GetTypeName(), L"EXCEPTION_GENERIC");
    EXPECT_EQ(e.Code(), kErrorGenericException);
  }
  EXPECT_EQ(fault.Shared(), generic.Shared());
  EXPECT_NE(fault.Shared(), nullptr);
}

TEST(ExceptionReport, OfAnExceptionOfTheFamily) {
  Exception e(L"Index out of range\r\nsecond line", "C:\\src\\List.cpp", 81, kErrorRange);
  const ExceptionReport report = ReportOf(e);
  EXPECT_EQ(report.typeName, L"EXCEPTION_GENERIC");
  EXPECT_EQ(report.message, L"Index out of range");
  EXPECT_EQ(report.details,
            L"Index out of range\r\nRaised at: C:\\src\\List.cpp:81, code 0x8000000b\r\nsecond line");
  EXPECT_EQ(report.sourceFile, L"C:\\src\\List.cpp");
  EXPECT_EQ(report.sourceLine, 81);

  const std::vector<std::wstring> expected = {
      L"EXCEPTION_GENERIC: Index out of range",
      L"Raised at: C:\\src\\List.cpp:81, code 0x8000000b",
      L"second line",
  };
  EXPECT_EQ(ReportLogLines(report), expected);
}

TEST(ExceptionReport, LogLinesSkipEmptyLinesAndKeepOtherDetails) {
  ExceptionReport report;
  report.typeName = L"EXCEPTION_STD";
  report.message = L"std::bad_alloc";
  report.details = L"std::bad_alloc\r\n" + std::wstring(kStackTraceHeader) + L"[0x1]  A()\r\n";
  const std::vector<std::wstring> expected = {
      L"EXCEPTION_STD: std::bad_alloc", FirstLine(std::wstring(kStackTraceHeader).substr(2)),
      L"[0x1]  A()"};
  EXPECT_EQ(ReportLogLines(report), expected);
  // Details that do not begin with the message are logged whole.
  report.details = L"other\nlines\r";
  const std::vector<std::wstring> other = {L"EXCEPTION_STD: std::bad_alloc", L"other", L"lines"};
  EXPECT_EQ(ReportLogLines(report), other);
}

TEST(ExceptionReport, Lines) {
  EXPECT_EQ(FirstLine(L"a\r\nb"), L"a");
  EXPECT_EQ(FirstLine(L"a\nb"), L"a");
  EXPECT_EQ(FirstLine(L"abc"), L"abc");
  EXPECT_EQ(FirstLine(L""), L"");
  const std::vector<std::wstring> lines = {L"a", L"b", L"c"};
  EXPECT_EQ(NonEmptyLines(L"\r\na\r\n\r\nb\rc\n"), lines);
  EXPECT_TRUE(NonEmptyLines(L"").empty());
}

std::wstring Lines(int count) {
  std::wstring text;
  for (int i = 0; i < count; ++i) text += (i ? L"\r\n" : L"") + std::wstring(L"line");
  return text;
}

TEST(ErrorDialogLayout, SizedForTheMessageLines) {
  struct Case {
    std::wstring message;
    int lines;       // n
    int height;      // (n - 3) x 8.3 + 60
    int labelHeight; // n x 8.3
  };
  const Case cases[] = {
      {L"", 3, 60, 24},
      {Lines(1), 3, 60, 24},  // one line gets room for three
      {Lines(2), 3, 60, 24},
      {Lines(3), 4, 68, 33},
      {Lines(28), 29, 275, 240},
      {Lines(29), 30, 284, 249},
      {Lines(30), 30, 284, 249},
      {Lines(50), 30, 284, 249},  // 50 lines get room for 30
      {L"a\nb\nc", 4, 68, 33},
      {L"a\rb\rc", 4, 68, 33},
      {L"a\r\nb\r\n", 3, 60, 24},  // a line end at the very end opens no line
      {L"a\r\nb\r\nc", 4, 68, 33},
      {L"\n\n\nx", 5, 76, 41},  // empty lines count
  };
  for (const Case& c : cases) {
    const ErrorDialogLayout l = LayoutErrorDialog(c.message);
    EXPECT_EQ(l.lines, c.lines) << c.lines;
    EXPECT_EQ(l.height, c.height) << c.lines;
    EXPECT_EQ(l.message.cy, c.labelHeight) << c.lines;
    EXPECT_EQ(l.width, 350);
    // Everything below the label moves with it.
    const int row = c.height - 60;
    EXPECT_EQ(l.close.y, row + 41);
    EXPECT_EQ(l.close.x + l.close.cx, 346);
    EXPECT_EQ(l.detailsEdit.y, row + 55);
    EXPECT_EQ(l.copy.y, row + 260);
    EXPECT_EQ(l.expandedHeight, row + 279);
  }
}

TEST(ErrorDialogLayout, ControlsOfTheTemplate) {
  const ErrorDialogLayout l = LayoutErrorDialog(L"x");
  auto same = [](const DialogRect& r, int x, int y, int cx, int cy) {
    return r.x == x && r.y == y && r.cx == cx && r.cy == cy;
  };
  EXPECT_TRUE(same(l.icon, 10, 10, 21, 21));
  EXPECT_TRUE(same(l.message, 38, 10, 306, 24));
  EXPECT_TRUE(same(l.close, 296, 41, 50, 14));
  EXPECT_TRUE(same(l.send, 225, 41, 65, 14));
  EXPECT_TRUE(same(l.details, 5, 41, 50, 14));
  EXPECT_TRUE(same(l.detailsEdit, 4, 55, 342, 200));
  EXPECT_TRUE(same(l.copy, 296, 260, 50, 14));
}

TEST(ErrorDialogPolicy, OnlyWhereSomebodyCanAnswer) {
  struct Case {
    bool prompts, sessionZero, localSystem, visible, allowed;
  };
  const Case cases[] = {
      {true, false, false, true, true},
      {false, false, false, true, false},  // quiet mode
      {true, true, false, true, false},    // services' session
      {true, false, true, true, false},    // LocalSystem
      {true, false, false, false, false},  // no interactive window station
      {false, true, true, false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MayShowErrorDialog(c.prompts, {c.sessionZero, c.localSystem, c.visible}), c.allowed)
        << c.prompts << c.sessionZero << c.localSystem << c.visible;
  }
}

// The same facts decide whether a run may show windows at all; the log says
// why not, naming the first reason.
TEST(InteractiveDesktop, AnyOneReasonTakesItAway) {
  struct Case {
    bool sessionZero, localSystem, visible, interactive;
    const wchar_t* reason;
  };
  const Case cases[] = {
      {false, false, true, true, L""},
      {true, false, true, false, L"session 0"},
      {false, true, true, false, L"the LocalSystem account"},
      {false, false, false, false, L"no interactive window station"},
      {true, true, false, false, L"session 0"},
      {false, true, false, false, L"the LocalSystem account"},
  };
  for (const Case& c : cases) {
    const DesktopFacts facts{c.sessionZero, c.localSystem, c.visible};
    EXPECT_EQ(HasInteractiveDesktop(facts), c.interactive) << c.sessionZero << c.localSystem << c.visible;
    EXPECT_EQ(std::wstring(NoDesktopReason(facts)), c.reason) << c.sessionZero << c.localSystem << c.visible;
  }
}

TEST(HexText, Digits) {
  EXPECT_EQ(HexText(0, 8), L"00000000");
  EXPECT_EQ(HexText(0xABCDEF, 8), L"00abcdef");
  EXPECT_EQ(HexText(0xFFFFFFFF, 8), L"ffffffff");
  EXPECT_EQ(HexText(0x100000000ull, 8), L"100000000");
  EXPECT_EQ(HexText(5, 0), L"5");
}

}  // namespace
