#include "queue/layer_path.h"

#include <gtest/gtest.h>

#include <cmath>

namespace vaxo2::queue {
namespace {

using script::ScriptValue;

TEST(LayerPathFrom, SingleValues) {
    EXPECT_EQ(layerPathFrom(ScriptValue::makeInteger(7)), (LayerPath{7}));
    EXPECT_EQ(layerPathFrom(ScriptValue::makeReal(-2.9)), (LayerPath{-2}));
    EXPECT_EQ(layerPathFrom(ScriptValue::makeString("12")), (LayerPath{12}));
    // Decimal, not automatic base: "010" is ten and "0x10" stops at the x.
    EXPECT_EQ(layerPathFrom(ScriptValue::makeString("010")), (LayerPath{10}));
    EXPECT_EQ(layerPathFrom(ScriptValue::makeString("0x10")), (LayerPath{0}));
    EXPECT_TRUE(layerPathFrom(ScriptValue{}).empty());
    EXPECT_TRUE(layerPathFrom(ScriptValue::makeLabelRef("top", 3)).empty());
    EXPECT_TRUE(layerPathFrom(static_cast<const ScriptValue*>(nullptr)).empty());
}

TEST(LayerPathFrom, NestedListsAreFlattenedInOrder) {
    const ScriptValue nested = ScriptValue::makeList(
        {ScriptValue::makeList({ScriptValue::makeInteger(1), ScriptValue::makeInteger(2)}),
         ScriptValue::makeInteger(3)});
    EXPECT_EQ(layerPathFrom(nested), (LayerPath{1, 2, 3}));

    const ScriptValue mixed = ScriptValue::makeList(
        {ScriptValue::makeReal(4.7), ScriptValue{}, ScriptValue::makeString("5"),
         ScriptValue::makeList({}), ScriptValue::makeLabelRef("x", 1),
         ScriptValue::makeList({ScriptValue::makeList({ScriptValue::makeInteger(-6)})})});
    EXPECT_EQ(layerPathFrom(mixed), (LayerPath{4, 5, -6}));
    EXPECT_TRUE(layerPathFrom(ScriptValue::makeList({})).empty());
}

TEST(LayerPathFrom, DeepNestingAndOddRealsAreSafe) {
    ScriptValue deep = ScriptValue::makeInteger(9);
    for (int i = 0; i < 100000; ++i) {
        ScriptValue outer;
        outer.type = script::ScriptValueType::List;
        outer.items.push_back(std::move(deep));
        deep = std::move(outer);
    }
    EXPECT_EQ(layerPathFrom(deep), (LayerPath{9}));
    // NaN converts to nothing and is skipped; huge reals do not overflow.
    const ScriptValue odd =
        ScriptValue::makeList({ScriptValue::makeReal(std::nan("")), ScriptValue::makeReal(1e300)});
    const LayerPath path = layerPathFrom(odd);
    EXPECT_LE(path.size(), 1u);
    // Tear the deep list down iteratively as well: unwrap one level at a time.
    while (deep.type == script::ScriptValueType::List && !deep.items.empty()) {
        ScriptValue inner = std::move(deep.items.front());
        deep = std::move(inner);
    }
}

}  // namespace
}  // namespace vaxo2::queue
