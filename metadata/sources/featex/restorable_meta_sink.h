#pragma once
// A meta sink whose final delivery can be taken back. A finish collects the
// final frames of every meta-sink leaf one after the other, and a leaf after
// the first ones may fail (one that no frame has reached cannot build its
// feature): the leaves that delivered before it must then have their rows
// again, so that more samples and a later finish give what one finish over
// all the samples gives. Such a sink hands over its rows in its final
// delivery as ever, and keeps them set aside until the graph knows whether
// every leaf has delivered.
//
// This is not part of the plug-in contract: the graph looks for it only on
// the modules of types the program itself provides (the built-in
// feature-object leaf is one), and collects every other sink in two passes, a
// trial delivery without final first.

struct SMetaFrame;

class CFexRestorableMetaSink {
 public:
  // The final delivery, getMetaFrame(frame, 1), but for the rows it
  // delivered, which the sink keeps set aside instead of forgetting them;
  // like that delivery it starts a new collection. A delivery that fails
  // leaves the sink as it was.
  virtual void deliverFinalSettingAside(SMetaFrame& frame) = 0;
  // After deliverFinalSettingAside, before anything else: takes the rows set
  // aside back as the collection, as it was before that delivery.
  virtual void restoreSetAside() noexcept = 0;
  // Frees the rows set aside.
  virtual void forgetSetAside() noexcept = 0;

 protected:
  ~CFexRestorableMetaSink() = default;
};
