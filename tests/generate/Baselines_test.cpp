// The Baseline elements: only saved baselines, in number order, each with
// the values it holds in the schema's order and the application's units.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "generate/Baselines.h"
#include "xml/XmlSink.h"
#include "xml/XmlWriter.h"
#include "support/TestRun.h"

namespace {

using model::SBaseline;

struct Row {
  const char* name;
  gen::BaselineOwner owner;
  std::vector<SBaseline> list;
  std::string want;
};

std::string Written(const std::vector<SBaseline>& list, gen::BaselineOwner owner) {
  auto owned = std::make_unique<xml::StringSink>();
  xml::StringSink* sink = owned.get();
  xml::XmlWriter writer(test_support::QuietRun(), std::move(owned));
  writer.SetLineLogging(false);
  EXPECT_EQ(gen::WriteBaselines(writer, list, owner), 0);
  writer.CloseXMLFile();
  std::string text = sink->Text();
  // Layout aside: the elements and their texts.
  std::string compact;
  for (char c : text)
    if (c != '\n' && c != '\r' && c != '\t' && c != ' ') compact.push_back(c);
  return compact;
}

constexpr model::PackedDate kDay = (11000u << 16) | 4800;  // 2014-02-11 08:00

TEST(BaselineElements, OnlySetValuesInSchemaOrder) {
  SBaseline empty;
  empty.Number = 3;
  SBaseline task0;
  task0.Number = 0;
  task0.Start = kDay;
  task0.Duration = 4800;        // 8 hours
  task0.Work = 480000.0;        // 480 minutes
  task0.Cost = 10000.0;         // 100.00, written in hundredths
  SBaseline task2;
  task2.Number = 2;
  task2.Finish = 0;             // "none" in version 9 and 12 records
  task2.Cost = 5050.0;
  SBaseline rsc;
  rsc.Number = 1;
  rsc.Start = kDay;             // no resource baseline date is written
  rsc.Work = 60000.0;
  const Row rows[] = {
      {"task", gen::BaselineOwner::Task, {task2, empty, task0},
       "<Baseline><Number>0</Number><Start>2014-02-11T08:00:00</Start><Duration>PT8H0M0S</Duration>"
       "<Work>PT8H0M0S</Work><Cost>10000</Cost></Baseline><Baseline><Number>2</Number><Cost>5050</Cost></Baseline>"},
      {"resource", gen::BaselineOwner::Resource, {rsc}, "<Baseline><Number>1</Number><Work>PT1H0M0S</Work></Baseline>"},
      {"assignment without duration", gen::BaselineOwner::Assignment, {task0},
       "<Baseline><Number>0</Number><Start>2014-02-11T08:00:00</Start><Work>PT8H0M0S</Work><Cost>10000</Cost></Baseline>"},
      {"nothing set", gen::BaselineOwner::Task, {empty}, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(Written(row.list, row.owner), row.want);
  }
}

}  // namespace
