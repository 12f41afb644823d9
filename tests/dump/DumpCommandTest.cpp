// corvane-dump as a user runs it: a stream as a file, on standard input or as hexadecimal
// text prints the same; each kind of failure has its exit status and message.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TemporaryDirectory.h"
#include "io/BaseBuffer.h"
#include "object/BaseAutorelease.h"
#include "object/BaseDictionary.h"
#include "object/BaseNumber.h"
#include "serialization/BaseSerializer.h"

namespace {

class DumpCommandTest : public ::testing::Test
{
protected:
  std::string write(const std::string& name, const std::string& content)
  {
    writeFile(m_directory + "/" + name, content);
    return m_directory + "/" + name;
  }
  // Runs the tool with `arguments` and `input` on standard input; its exit status.
  int run(std::vector<std::string> arguments, const std::string& input = "")
  {
    arguments.insert(arguments.begin(), CORVANE_DUMP);
    ChildProcess dump(arguments);
    EXPECT_TRUE(dump.send(input));
    const ChildExit exit = dump.finish();
    m_out = textLines(exit.out), m_err = textLines(exit.err);
    return exit.status;
  }
  // Lines end in "\n" whatever the system writes to a text stream.
  static std::string textLines(std::string text)
  {
    for (size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
    return text;
  }

  TemporaryDirectory m_temporary{"corvane-dump-cmd"};
  const std::string& m_directory = m_temporary.path();
  std::string m_out, m_err;
};

TEST_F(DumpCommandTest, HexTextPrintsWhatTheBytesPrintAndExitStatusSaysWhatWentWrong)
{
  BaseAutorelease pool;
  BaseDictionary* record = new (eRetainAutorelease) BaseDictionary();
  record->setObjectForKey(new (eRetainAutorelease) BaseNumber(47.46470123456789), "latitude");
  record->setCStringForKey("X-Plane", "source");
  BaseBuffer* bytes = BaseSerializer::serializeObject(record);
  const std::string stream((const char*)bytes->bytes(), bytes->length()),
      binary = write("stream.bin", stream);
  std::string pasted;
  for (unsigned char byte : stream) {
    char digits[8];
    snprintf(digits, sizeof digits, pasted.size() % 36 == 30 ? "0x%02X,\n" : "0x%02x, ", byte);
    pasted += digits;
  }
  ASSERT_EQ(run({"--xml", binary}), 0) << m_err;
  const std::string expected = m_out;
  EXPECT_EQ(expected.find("<!-- object 1 at byte 0, " + std::to_string(stream.size()) + " bytes -->\n<dict>"),
            0u);
  const std::string hex = write("stream.hex", "# a pasted capture\n" + pasted);
  // Arguments, standard input, exit status, output, error ("..." only checks the start).
  const std::tuple<std::vector<std::string>, std::string, int, std::string, std::string> cases[] = {
      {{"--xml", "--hex", hex}, "", 0, expected, ""},
      {{"--xml"}, stream, 0, expected, ""},
      {{"--data", "0b00 0b00 1400 05 0b00"}, "", 1,
       "// object 1 at byte 0, 2 bytes\nnull\n// object 2 at byte 2, 2 bytes\nnull\n",
       "corvane-dump: malformed stream at byte 9 (in object 3, which starts at byte 4): stream ends inside "
       "the array at byte 4 after 1 of 5 elements\n"},
      {{"--yaml"}, "", 2, "", "corvane-dump: unknown option --yaml (see --help)\n"},
      {{m_directory + "/missing"}, "", 3, "", "corvane-dump: cannot open " + m_directory + "/missing..."}};
  for (const auto& [arguments, input, status, out, err] : cases) {
    SCOPED_TRACE(arguments.back());
    EXPECT_EQ(run(arguments, input), status);
    EXPECT_EQ(m_out, out);
    EXPECT_EQ(m_err.substr(0, err.find("...")), err.substr(0, err.find("...")));
  }
}

}  // namespace
