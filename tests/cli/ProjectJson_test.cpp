// The project JSON read back from a document: the small XML reader's
// corners (references, CDATA, empty elements, links inside tasks) and the
// text it refuses.
#include <gtest/gtest.h>

#include <string>

#include "serve/ProjectJson.h"

namespace {

std::string Doc(const std::string& inside) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
         "<Project xmlns=\"urn:example:plan\">" + inside + "</Project>\n";
}

TEST(ProjectJson, ReadsWhatTheDocumentHolds) {
  struct Case {
    const char* what;
    std::string xml;
    std::string expected;  // a piece of the JSON
  };
  const Case cases[] = {
      {"header elements by name", Doc("<Title>A &amp; B</Title><StartDate>2026-03-02T08:00:00</StartDate>"),
       "\"header\":{\"Title\":\"A & B\",\"StartDate\":\"2026-03-02T08:00:00\"}"},
      {"an empty element is an empty value", Doc("<Subject/><Company></Company>"),
       "\"header\":{\"Subject\":\"\",\"Company\":\"\"}"},
      {"numeric references, quotes and a tag-like name made safe",
       Doc("<Tasks><Task><UID>1</UID><Name>&#233;t&#xE9; &quot;&lt;b&gt;&quot;</Name></Task></Tasks>"),
       "\"name\":\"\xC3\xA9t\xC3\xA9 \\\"\\u003cb>\\\"\""},
      {"CDATA text", Doc("<Tasks><Task><UID>2</UID><Name><![CDATA[x < y & z]]></Name></Task></Tasks>"),
       "\"name\":\"x \\u003c y & z\""},
      {"flags and numbers",
       Doc("<Tasks><Task><UID>3</UID><ID>1</ID><OutlineLevel>2</OutlineLevel><Milestone>1</Milestone>"
           "<Summary>0</Summary><PercentComplete>50</PercentComplete></Task></Tasks>"),
       "\"uid\":3,\"id\":1,\"name\":null,\"outline_level\":2"},
      {"flags", Doc("<Tasks><Task><UID>3</UID><Milestone>1</Milestone><Summary>0</Summary></Task></Tasks>"),
       "\"milestone\":true,\"summary\":false,\"manual\":null"},
      {"a link belongs to the task it is in",
       Doc("<Tasks><Task><UID>1</UID></Task><Task><UID>7</UID><PredecessorLink><PredecessorUID>1</PredecessorUID>"
           "<Type>3</Type><LinkLag>4800</LinkLag></PredecessorLink></Task></Tasks>"),
       "\"links\":[{\"successor\":7,\"predecessor\":1,\"type\":3,\"lag\":4800}]"},
      {"a task's resources by name through its assignments",
       Doc("<Tasks><Task><UID>4</UID></Task></Tasks><Resources><Resource><UID>9</UID><Name>Ana</Name></Resource>"
           "</Resources><Assignments><Assignment><UID>1</UID><TaskUID>4</TaskUID><ResourceUID>9</ResourceUID>"
           "</Assignment><Assignment><TaskUID>4</TaskUID><ResourceUID>-65535</ResourceUID></Assignment></Assignments>"),
       "\"resources\":[\"Ana\"]}"},
      {"a value that is no number is null", Doc("<Tasks><Task><UID>x1</UID></Task></Tasks>"), "\"uid\":null"},
      {"comments and a prefixed name", Doc("<!-- c --><p:Title a='1' b=\"2\">T</p:Title>"), "\"Title\":\"T\""},
      {"bytes that are not UTF-8", Doc("<Title>a\xFF" "b</Title>"), "\"Title\":\"a\xEF\xBF\xBD" "b\""},
  };
  for (const Case& c : cases) {
    std::string json, error;
    ASSERT_TRUE(serve::ProjectJsonFromXml(c.xml, json, error)) << c.what << ": " << error;
    EXPECT_NE(json.find(c.expected), std::string::npos) << c.what << ": " << json;
  }
}

}  // namespace
