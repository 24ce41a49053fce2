#include "metadata/sources/featex/dsp_tree_node.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <vector>

#include "tests/metadata/sources/featex/fex_test_modules.h"

namespace {

// A configuration and the graph built from it with the test modules.
struct Graph {
  explicit Graph(const std::string& xml) {
    addTestModules(registry);
    ConfigTreeNode* cfg = config.load(xml, false, 512);
    root = std::make_unique<DspTreeNode>(*cfg, &cfg->settings, &registry, &endFlag);
    root->collectLeaves(root->leaves);
  }

  // The module of the node reached by following child indices from the root.
  template <class Module = TestModule>
  Module& module(std::initializer_list<unsigned> path) {
    DspTreeNode* node = root.get();
    for (unsigned i : path) node = node->children.at(i);
    return *dynamic_cast<Module*>(node->module);
  }

  CFexModuleRegistry registry;
  ConfigTree config;
  bool endFlag = false;
  std::unique_ptr<DspTreeNode> root;
};

std::string checkFailure(const std::string& xml, const std::string& space = "TimeMono") {
  Graph graph(xml);
  try {
    graph.root->check(space, FTI_none);
  } catch (const simpleException& e) {
    return e.what();
  }
  return "passed";
}

template <class Call>
std::string failure(Call&& call) {
  try {
    call();
  } catch (const simpleException& e) {
    return e.what();
  }
  return "no exception";
}

std::vector<float> values(const BaseVector<float>& v) { return std::vector<float>(v.begin(), v.end()); }

HeapVector<float> frameOf(std::initializer_list<float> list) {
  HeapVector<float> frame(static_cast<unsigned>(list.size()));
  std::copy(list.begin(), list.end(), frame.data);
  return frame;
}

}  // namespace

TEST(DspTreeNodeTest, LeafChecks) {
  EXPECT_EQ(checkFailure("<config/>"), "missing CFexModule-interface at leaf.");
  EXPECT_EQ(checkFailure("<c><module name='test_module'/><module instance='no type'/></c>"),
            "missing CFexModule-interface at leaf.");
  EXPECT_EQ(checkFailure("<c><module name='test_module'><module name='test_null'/></module></c>"),
            "missing CFexModule-instance at leaf.");
  EXPECT_EQ(checkFailure("<c><module name='test_module' outType='3'/></c>"),
            "wrong feature type at leaf! (alloed: FTI_bvFlt,FTI_none)");
  EXPECT_EQ(checkFailure("<c><module name='test_module' outType='2'/></c>"),
            "wrong feature type at leaf! (alloed: FTI_bvFlt,FTI_none)");
  EXPECT_EQ(checkFailure("<c><module name='test_module' outType='3'><module name='test_module' inType='3'/>"
                         "</module><module name='test_sink'/></c>"),
            "passed");
}

TEST(DspTreeNodeTest, SignalSpaceChecks) {
  EXPECT_EQ(checkFailure("<c><module name='test_module' in='TimeMono' out='Spec'>"
                         "<module name='test_module' instance='B' in='Spec'/></module></c>"),
            "passed");
  EXPECT_EQ(checkFailure("<c><module name='test_module' instance='A' in='TimeArbitrary'/></c>"),
            "wrong input-signal-space for CFexModule-instance A.");
  EXPECT_EQ(checkFailure("<c><module name='test_module' in='TimeMono' out='Spec'>"
                         "<module name='test_module' instance='B' in='Other'/></module></c>"),
            "wrong input-signal-space for CFexModule-instance B.");
  // The empty space accepts any parent and satisfies any child.
  EXPECT_EQ(checkFailure("<c><module name='test_module' out='Spec'><module name='test_module' out=''>"
                         "<module name='test_module' in='Anything'/></module></module></c>"),
            "passed");
  // Case matters.
  EXPECT_EQ(checkFailure("<c><module name='test_module' instance='A' in='timemono'/></c>"),
            "wrong input-signal-space for CFexModule-instance A.");
  // A node without a type passes on the space it received.
  EXPECT_EQ(checkFailure("<c><module instance='group'><module name='test_module' in='TimeMono'/></module></c>"),
            "passed");
  EXPECT_EQ(checkFailure("<c><module instance='group'><module name='test_module' instance='X' in='Spec'/>"
                         "</module></c>"),
            "wrong input-signal-space for CFexModule-instance X.");
  // An input space of empty name given to the root satisfies everything.
  EXPECT_EQ(checkFailure("<c><module name='test_module' in='Spec'/></c>", ""), "passed");
}

TEST(DspTreeNodeTest, TypeChecks) {
  // The modules right below the root are not type-checked.
  EXPECT_EQ(checkFailure("<c><module name='test_module' inType='2'/></c>"), "passed");
  EXPECT_EQ(checkFailure("<c><module name='test_module' outType='3'>"
                         "<module name='test_module' instance='B'/></module></c>"),
            "Input type mismatch for CFexModule instance B");
  EXPECT_EQ(checkFailure("<c><module name='test_module' outType='2'>"
                         "<module name='test_module' instance='any' inType='9'/></module></c>"),
            "passed");
  // A parent delivering nothing (type 0) is not held against its children.
  EXPECT_EQ(checkFailure("<c><module name='test_module' outType='0'>"
                         "<module name='test_module' inType='2'/></module></c>"),
            "passed");
  // Through a node without a type the parent's type reaches the children.
  EXPECT_EQ(checkFailure("<c><module name='test_module' outType='3'><module>"
                         "<module name='test_module' instance='C'/></module></module></c>"),
            "Input type mismatch for CFexModule instance C");
  // The leaf types are checked before the signal spaces and types.
  EXPECT_EQ(checkFailure("<c><module name='test_module' in='Other' outType='3'/></c>"),
            "wrong feature type at leaf! (alloed: FTI_bvFlt,FTI_none)");
}

TEST(DspTreeNodeTest, InnerNodeWithoutModuleIsReportedWithoutBeingTouched) {
  Graph graph("<c><module name='test_null' instance='N' in='x'><module name='test_module'/></module></c>");
  DspTreeNode& inner = *graph.root->children[0];
  EXPECT_NE(inner.iface, nullptr);
  EXPECT_EQ(inner.module, nullptr);
  EXPECT_NO_THROW(graph.root->check("TimeMono", FTI_none));
  EXPECT_EQ(failure([&] { graph.root->getOutputSize(10); }), "CFexModule not loaded.");
  HeapVector<float> out;
  HeapVector<float> frame = frameOf({1});
  int type = FTI_none;
  EXPECT_EQ(failure([&] { graph.root->processFrame(out, &frame, &type); }), "CFexModule not loaded.");
}

TEST(DspTreeNodeTest, FramePassConcatenatesTheLeavesInOrder) {
  Graph graph(
      "<c>"
      "<module name='test_module' instance='A' add='1'>"
      "<module name='test_module' instance='B' add='10'/>"
      "<module name='test_module' instance='C' size='2' add='0.5'/>"
      "</module>"
      "<module name='test_sink' instance='S'/>"
      "</c>");
  graph.root->check("TimeMono", FTI_none);
  HeapVector<float> frame = frameOf({1, 2, 3});
  HeapVector<float> out;
  int type = FTI_none;
  EXPECT_EQ(graph.root->processFrame(out, &frame, &type), 5u);
  EXPECT_EQ(values(out), (std::vector<float>{12, 13, 14, 0.5f, 0.5f}));
  EXPECT_EQ(graph.module({0}).lastInput, &frame);
  EXPECT_EQ(graph.module({0, 0}).lastInput, graph.root->children[0]->output);
  auto& sink = graph.module<TestMetaSink>({1});
  EXPECT_EQ(sink.rows, 1);
  EXPECT_EQ(sink.lastValue, 1.0f);
  EXPECT_EQ(graph.root->children[1]->output, nullptr);

  EXPECT_EQ(graph.root->processFrame(out, &frame, &type), 5u);
  EXPECT_EQ(values(out), (std::vector<float>{12, 13, 14, 1.5f, 1.5f}));
  EXPECT_FALSE(graph.endFlag);
  EXPECT_EQ(graph.root->getOutputSize(3), 5u);

  // The concatenation alone never writes past the vector it is given.
  std::vector<float> small(3, -1.0f);
  BaseVector<float> view(small.data(), 2);
  EXPECT_EQ(graph.root->collectOutput(view), 2u);
  EXPECT_EQ(small, (std::vector<float>{12, 13, -1}));
}

TEST(DspTreeNodeTest, FramePassChecksTypes) {
  Graph graph("<c><module name='test_module' outType='3'><module name='test_module' instance='B'/></module></c>");
  HeapVector<float> frame = frameOf({1});
  HeapVector<float> out;
  int type = FTI_none;
  EXPECT_EQ(failure([&] { graph.root->processFrame(out, &frame, &type); }), "Types missmatch.");
  // The type handed to the root reaches the first modules.
  type = FTI_bvCplx;
  EXPECT_EQ(failure([&] { graph.root->processFrame(out, &frame, &type); }), "Types missmatch.");

  Graph any("<c><module name='test_module' outType='3'>"
            "<module name='test_module' inType='9' size='1'/></module></c>");
  type = FTI_bvFlt;
  EXPECT_EQ(any.root->processFrame(out, &frame, &type), 1u);
  type = FTI_hmFlt;
  Graph anyFirst("<c><module name='test_module' inType='9' size='2'/></c>");
  EXPECT_EQ(anyFirst.root->processFrame(out, &frame, &type), 2u);
}

TEST(DspTreeNodeTest, NodeWithoutTypePassesItsInputThrough) {
  Graph graph("<c><module instance='group'><module name='test_module' instance='X' add='1'/></module></c>");
  graph.root->check("TimeMono", FTI_none);
  DspTreeNode& group = *graph.root->children[0];
  EXPECT_EQ(group.iface, nullptr);
  EXPECT_EQ(group.module, nullptr);
  EXPECT_EQ(group.registry, nullptr);
  EXPECT_EQ(graph.root->children[0]->children[0]->registry, &graph.registry);
  HeapVector<float> frame = frameOf({4, 5});
  HeapVector<float> out;
  int type = FTI_none;
  EXPECT_EQ(graph.root->processFrame(out, &frame, &type), 2u);
  EXPECT_EQ(values(out), (std::vector<float>{5, 6}));
  EXPECT_EQ(graph.module({0, 0}).lastInput, &frame);
  EXPECT_EQ(group.output, nullptr);

  std::ostringstream xml;
  graph.root->writeXml(xml, 0);
  EXPECT_EQ(xml.str(),
            "<featex>\n"
            "  <featex>\n"
            "  <CFexModule name = X, interface = test_module>\n"
            "  </CFexModule>\n"
            " </featex>\n"
            "</featex>\n");
}

TEST(DspTreeNodeTest, EndSignalStopsTheSubtreeButNotItsSiblings) {
  Graph graph(
      "<c>"
      "<module name='test_module' instance='A' endAt='1'><module name='test_module' instance='A1' add='100'/></module>"
      "<module name='test_module' instance='L' endAt='1' size='3'/>"
      "<module name='test_module' instance='B' add='1'/>"
      "<module name='test_sink' instance='S'/>"
      "</c>");
  graph.root->check("TimeMono", FTI_none);
  HeapVector<float> frame = frameOf({1, 2});
  HeapVector<float> out;
  int type = FTI_none;
  EXPECT_EQ(graph.root->processFrame(out, &frame, &type), 7u);
  EXPECT_EQ(values(out), (std::vector<float>{101, 102, 0, 0, 0, 2, 3}));
  EXPECT_FALSE(graph.endFlag);

  frame[0] = 5;
  // A and the leaf L signal the end: neither they nor A1 deliver anything, and
  // the outputs they held from the first frame are not handed on again.
  EXPECT_EQ(graph.root->processFrame(out, &frame, &type), 2u);
  EXPECT_EQ(values(out), (std::vector<float>{6, 3}));
  EXPECT_TRUE(graph.endFlag);
  EXPECT_EQ(graph.module({0, 0}).calls, 1);
  EXPECT_EQ(graph.module({2}).calls, 2);
  EXPECT_EQ(graph.module<TestMetaSink>({3}).rows, 2);
}

TEST(DspTreeNodeTest, OutputSizeSizeAndDepth) {
  Graph alone("<c/>");
  EXPECT_EQ(alone.root->getOutputSize(10), 0u);
  EXPECT_EQ(alone.root->getSize(), 1u);
  EXPECT_EQ(alone.root->getDepth(), 0u);

  Graph one("<module name='test_module'/>");
  EXPECT_EQ(one.root->getSize(), 2u);
  EXPECT_EQ(one.root->getDepth(), 1u);

  Graph tree(
      "<c>"
      "<module name='test_module' size='4'>"
      "<module name='test_module'/>"
      "<module><module name='test_module' size='2'/><module name='test_sink'/></module>"
      "</module>"
      "<module name='test_module'/>"
      "</c>");
  // 4 (copy of A's 4) + 2 + 0 (sink) + 10 (copy of the input).
  EXPECT_EQ(tree.root->getOutputSize(10), 16u);
  EXPECT_EQ(tree.root->getSize(), 7u);
  EXPECT_EQ(tree.root->getDepth(), 3u);
  EXPECT_EQ(tree.root->leaves.size(), 4u);
  EXPECT_EQ(tree.root->leaves[0], tree.root->children[0]->children[0]);
  EXPECT_EQ(tree.root->leaves[3], tree.root->children[1]);
}

TEST(DspTreeNodeTest, MetaFramesComeFromTheMetaSinkLeavesWithData) {
  Graph graph(
      "<c>"
      "<module name='test_module'><module name='test_sink' instance='first'/></module>"
      "<module name='test_sink' instance='idle'/>"
      "<module name='test_module' instance='plain'/>"
      "<module name='test_sink' instance='last'/>"
      "</c>");
  std::vector<SMetaFrame> frames(1);
  EXPECT_EQ(graph.root->collectMetaFrames(frames, 0), 0u);

  HeapVector<float> frame = frameOf({1});
  HeapVector<float> out;
  int type = FTI_none;
  graph.root->processFrame(out, &frame, &type);
  graph.root->processFrame(out, &frame, &type);
  // The idle sink sees no rows: give it none by asking it directly.
  graph.module<TestMetaSink>({1}).rows = 0;
  EXPECT_EQ(graph.root->collectMetaFrames(frames, 1), 2u);
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(std::string(frames[1].tag, frames[1].tagLen), "FeatObj");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(frames[1].data), frames[1].dataLen), "first:2");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(frames[2].data), frames[2].dataLen), "last:2");
  EXPECT_EQ(graph.module<TestMetaSink>({3}).lastFinal, 1);
  EXPECT_EQ(graph.module<TestMetaSink>({1}).lastFinal, 1);
}

// A leaf that cannot deliver yet fails the whole collection, final or not:
// nothing is appended, and the leaves before it keep their rows, so that the
// next collection delivers every row of every leaf.
TEST(DspTreeNodeTest, AFailedCollectionChangesNothing) {
  for (int final : {0, 1}) {
    SCOPED_TRACE(final);
    Graph graph(
        "<c><module name='test_sink' instance='early'/>"
        "<module name='test_sink' instance='late' minRows='3'/></c>");
    HeapVector<float> frame = frameOf({1});
    HeapVector<float> out;
    int type = FTI_none;
    std::vector<SMetaFrame> frames(1);
    for (int i = 0; i < 2; ++i) graph.root->processFrame(out, &frame, &type);
    EXPECT_EQ(failure([&] { graph.root->collectMetaFrames(frames, final); }), "too few rows");
    EXPECT_EQ(frames.size(), 1u);

    graph.root->processFrame(out, &frame, &type);
    ASSERT_EQ(graph.root->collectMetaFrames(frames, 1), 2u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(frames[1].data), frames[1].dataLen), "early:3");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(frames[2].data), frames[2].dataLen), "late:3");
    EXPECT_EQ(graph.module<TestMetaSink>({0}).rows, 0);
  }
}

// A leaf that fails its final delivery after others have delivered fails the
// collection too, and the built-in leaves, which hand their rows over in that
// delivery, get them back, those before it as well as those after it: more
// frames then give every leaf's frame as one collection over all of them
// gives it.
TEST(DspTreeNodeTest, AFailedFinalDeliveryLeavesEveryLeafItsRows) {
  const std::string xml =
      "<c><module name='fex_feature_object' featname='a' featver='1'/>"
      "<module name='test_sink' instance='refusing' failFinal='true'/>"
      "<module name='fex_feature_object' featname='b' featver='1' quantLine='uniform'/></c>";
  const std::vector<HeapVector<float>> input = {frameOf({1, 2}), frameOf({3, 5}), frameOf({8, 13})};
  const auto feed = [](Graph& graph, const HeapVector<float>& frame) {
    HeapVector<float> out;
    int type = FTI_none;
    graph.root->processFrame(out, &frame, &type);
  };
  const auto texts = [](const std::vector<SMetaFrame>& frames) {
    std::vector<std::string> result;
    for (const SMetaFrame& frame : frames)
      result.push_back(std::string(frame.tag, frame.tagLen) +
                       std::string(reinterpret_cast<char*>(frame.data), frame.dataLen));
    return result;
  };

  Graph graph(xml);
  feed(graph, input[0]);
  feed(graph, input[1]);
  std::vector<SMetaFrame> frames(1);
  EXPECT_EQ(failure([&] { graph.root->collectMetaFrames(frames, 1); }), "final refused");
  EXPECT_EQ(frames.size(), 1u);
  graph.module<TestMetaSink>({1}).failFinal = false;
  feed(graph, input[2]);
  frames.clear();
  ASSERT_EQ(graph.root->collectMetaFrames(frames, 1), 3u);

  Graph oneShot(xml);
  oneShot.module<TestMetaSink>({1}).failFinal = false;
  for (const HeapVector<float>& frame : input) feed(oneShot, frame);
  std::vector<SMetaFrame> expected;
  ASSERT_EQ(oneShot.root->collectMetaFrames(expected, 1), 3u);
  EXPECT_EQ(texts(frames), texts(expected));
  EXPECT_EQ(texts(frames)[1], "FeatObjrefusing:3");
}

TEST(DspTreeNodeTest, ModulesSeeTheirSettingsAndTheSharedGlobals) {
  Graph graph(
      "<c><param windowSize='441'/>"
      "<module name='test_module' setGlobal='windowSize'><module name='test_module'/></module>"
      "<module name='test_module' instance='later'/>"
      "</c>");
  // Parents are built before their children, and earlier siblings before later ones.
  EXPECT_EQ(graph.module({0}).seenWindowSize, 441);
  EXPECT_EQ(graph.module({0, 0}).seenWindowSize, 99);
  EXPECT_EQ(graph.module({1}).seenWindowSize, 99);
  EXPECT_EQ(graph.root->children[1]->instance, "later");
  EXPECT_EQ(graph.root->children[1]->type, "test_module");
}

TEST(DspTreeNodeTest, FailedConstructionReleasesWhatWasBuilt) {
  ASSERT_EQ(TestModule::live, 0);
  CFexModuleRegistry registry;
  addTestModules(registry);
  bool endFlag = false;
  for (const char* xml :
       {"<c><module name='test_module'><module name='test_sink'/><module name='test_bad'/></module></c>",
        "<c><module name='test_module'/><module name='fex_no_such_module'/></c>"}) {
    ConfigTree config;
    ConfigTreeNode* cfg = config.load(xml, false, 512);
    EXPECT_THROW(DspTreeNode(*cfg, &cfg->settings, &registry, &endFlag), simpleException);
    EXPECT_EQ(TestModule::live, 0) << xml;
  }

  ConfigTree config;
  ConfigTreeNode* cfg = config.load("<c><module name='test_bad'/></c>", false, 512);
  EXPECT_EQ(failure([&] { DspTreeNode node(*cfg, &cfg->settings, &registry, &endFlag); }), "bad setting");
  {
    Graph graph("<c><module name='test_module'><module name='test_sink'/></module></c>");
    EXPECT_EQ(TestModule::live, 2);
  }
  EXPECT_EQ(TestModule::live, 0);
}
