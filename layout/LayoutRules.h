// Layout rules: the condition chains that pick one layout of a document for
// the device at hand (by platform, screen size and named environment values),
// and the plug-in environment those conditions read.
#pragma once

#include <cstdint>
#include <string>

#include "core/PropertyValue.h"
#include "core/RefCounted.h"
#include "core/XmlDom.h"
#include "layout/ContentInterfaces.h"

class LayoutDocument;
class LayoutDefinition;

// One rule of a level. Each node holds the rule before it at its level and
// its consequence (the last rule of its child level).
class RuleNode : public CRefCounted {
 public:
  explicit RuleNode(CRefPtr<RuleNode> previous) : previous_(std::move(previous)) {}
  // Non-zero when the chain up to and including this node selects a layout;
  // the layout's name is written to name.
  virtual int Evaluate(IPropertySource* environment, std::u16string& name);
  void SetConsequence(CRefPtr<RuleNode> consequence) { consequence_ = std::move(consequence); }
  RuleNode* GetPrevious() const { return previous_.Get(); }
  RuleNode* GetConsequence() const { return consequence_.Get(); }

 protected:
  virtual bool Test(IPropertySource* environment) = 0;

 private:
  CRefPtr<RuleNode> previous_;
  CRefPtr<RuleNode> consequence_;
};

class DefaultRule : public RuleNode {
 public:
  using RuleNode::RuleNode;

 protected:
  bool Test(IPropertySource*) override { return true; }
};

class ConditionRule : public RuleNode {
 public:
  ConditionRule(CRefPtr<RuleNode> previous, std::u16string name, std::u16string value)
      : RuleNode(std::move(previous)), name_(std::move(name)), value_(std::move(value)) {}

 protected:
  bool Test(IPropertySource* environment) override;

 private:
  std::u16string name_;
  std::u16string value_;
};

class ScreenConditionRule : public RuleNode {
 public:
  ScreenConditionRule(CRefPtr<RuleNode> previous, std::int32_t width, std::int32_t height)
      : RuleNode(std::move(previous)), width_(width), height_(height) {}

 protected:
  bool Test(IPropertySource*) override;

 private:
  std::int32_t width_;
  std::int32_t height_;
};

class PlatformConditionRule : public RuleNode {
 public:
  PlatformConditionRule(CRefPtr<RuleNode> previous, const std::u16string& platform);

 protected:
  bool Test(IPropertySource*) override { return matches_; }

 private:
  bool matches_;
};

class UseLayoutRule : public RuleNode {
 public:
  explicit UseLayoutRule(std::u16string name) : RuleNode(nullptr), name_(std::move(name)) {}
  int Evaluate(IPropertySource*, std::u16string& name) override {
    name = name_;
    return 1;
  }

 protected:
  bool Test(IPropertySource*) override { return true; }

 private:
  std::u16string name_;
};

// The rule root of a document: a Default node whose consequence is the
// chain of the Rules element below the Layouts element.
CRefPtr<RuleNode> ParseLayoutRules(const CXmlNode& layoutsElement);
// Parses the child elements of element into node's consequence chain.
void ParseLayoutRule(const CXmlNode& element, RuleNode& node);

// The environment: one String value per value of the "PluginEnvironment"
// subkey of the product key, then Int "$cx" and "$cy" (the screen size,
// halved on a double-resolution screen) at the head.
CPropertyList BuildPluginEnvironment();

// The layout the document's rules pick for this device, or null.
CRefPtr<LayoutDefinition> SelectLayout(const LayoutDocument& document);
