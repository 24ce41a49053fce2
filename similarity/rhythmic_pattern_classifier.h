#pragma once
// The rhythmic-pattern classifier: each aspect holds reference rhythm
// patterns, autocorrelation rows over the lag axis with the lag of each one's
// main peak. Every row of the query's "MSE_ACF_EXC" feature (an excerpt of the
// autocorrelation between the lags of a high and a low tempo bound) votes for
// the aspect of its nearest pattern; a pattern is compared with the row as it
// is and with the row stretched to the pattern's peak lag. The scores are the
// vote shares.
//
// Model file: a signature file in which every feature object is one aspect
// (its name the aspect id): the matrix holds one pattern per row, indexed by
// absolute lag, the string parameters "peaks" and "tempi" one comma-separated
// unsigned value per pattern.

#include <string>

#include "metadata/sources/vmtl/heap_matrix.h"
#include "similarity/aspect_classifier.h"

class RhythmicPatternModel : public AspectModel {
 public:
  void set(const CAudioSignMulti& modelFile, const std::string& aspectId) override;
  AspectModel* clone() const override { return new RhythmicPatternModel(*this); }

  HeapMatrix<float> patterns;
  HeapVector<unsigned int> peaks;
  // Kept with the model; classification does not read them.
  HeapVector<unsigned int> tempi;
};

class RhythmicPatternClassifier : public AspectClassifier {
 public:
  // Reads the model file itself (the base loads nothing): one aspect per
  // feature object. A file that cannot be opened or read fails with a
  // StandardException that names it.
  RhythmicPatternClassifier(const std::string& name, const std::string& file, int version);

  // Always fails: this classifier works on the query signature only.
  void classify(const BaseMatrix<float>& input, ClassifyResult& result) override;
  // A row for which no pattern's peak ratio lies within the bounds casts no
  // vote; the scores stay vote counts over all rows. Tempo bounds that give no
  // lag window, query rows shorter than the window and patterns that end
  // before it are refused rather than read past their ends.
  void classify(const CAudioSignMulti& query, ClassifyResult& result) override;

  float getLowerRatio() const { return lowerRatio; }
  float getUpperRatio() const { return upperRatio; }

 private:
  float lowerRatio = 0.7f;
  float upperRatio = 1.3f;
};

// The lag of the row's main peak within a window starting at lag start: start
// plus the index of the largest interior element above both neighbours (and
// above 0.0); start itself when there is none.
unsigned mainPeakLag(const BaseVector<float>& row, unsigned start);

// The window (elements of lags start .. start + window.size - 1) stretched by
// ratio: element k is read at lag (start + k) / ratio, linearly between the
// neighbouring lags, lags outside the window reading 0.
void stretchWindow(const BaseVector<float>& window, unsigned start, float ratio, BaseVector<float>& out);
