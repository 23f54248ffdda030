// Whole version 14 projects built with the project fixtures: the small plan
// bundled as examples/sample.mpp, and plain synthetic plans of any size for
// the benchmarks.
#pragma once

#include <cstddef>
#include <string_view>

#include "support/ProjectFixture.h"

namespace project_fixture {

// A CompObj stream naming userType as the application that saved the file.
fixture::Node CompObjStream(std::string_view userType);

// The file of project with the CompObj stream of the application that
// writes version 14 files.
ByteVector BuildProjectFile(const ProjectDescription& project);

// A house-move plan of 21 tasks: four phases with their tasks and a
// closing milestone, five notes, and a custom text field named "Owner" set on
// seven tasks.
ProjectDescription SampleProject();

// A plan of any size (at most 65,535 tasks): summary tasks of ten subtasks
// each, the subtasks of a summary side by side and a day long, every
// seventh task with a note, every fifth with an owner; the standard
// calendar; resources with a rate; assignments of a day's work each, the
// subtasks taken in turn and the resources in turn; finish-to-start links
// between neighbouring subtasks, in turn. Deterministic.
struct SyntheticSizes {
  std::size_t tasks = 0;
  std::size_t resources = 0;
  std::size_t assignments = 0;
  std::size_t links = 0;
  // Every subtask also with baselines 0 and 1 (its own dates) and a cost
  // in Cost1.
  bool baselines = false;
};
ProjectDescription SyntheticProject(const SyntheticSizes& sizes);
inline ProjectDescription SyntheticProject(std::size_t taskCount) { return SyntheticProject({.tasks = taskCount}); }

}  // namespace project_fixture
