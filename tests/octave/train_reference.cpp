// Trains and classifies with the procedures linked against the stand-in host, outside any
// Octave process, and writes every result with %.17g. The Octave tests run the same work
// through the modules loaded into Octave and compare the two bit for bit.
//
//   train_reference TRAIN.csv TEST.csv OUTDIR p Rmax margin max_list_presentations
//                   unknown_label nn_option oflag
//
// CSV rows hold the features, then the label. OUTDIR receives nodes.csv (centre, then radius),
// node_labels.csv, presentations.txt, recall.csv (labels given to the TEST rows) and the console
// text of each phase in learn_console.txt and recall_console.txt.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "classify_patterns.h"
#include "learn_prototypes.h"
#include "sphere_node.h"
#include "standin_host.h"

namespace {

struct LabelledRows {
    std::vector<std::vector<double>> features;
    std::vector<double> labels;
    std::vector<const double*> pointers;
};

bool readCsv(const std::string& path, LabelledRows& out) {
    std::ifstream in(path);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        std::vector<double> values;
        std::stringstream fields(line);
        std::string field;
        while (std::getline(fields, field, ',')) {
            char* end = nullptr;
            values.push_back(std::strtod(field.c_str(), &end));  // correctly rounded, as Octave
            if (end == field.c_str()) return false;
        }
        if (values.empty()) return false;
        out.labels.push_back(values.back());
        values.pop_back();
        if (!out.features.empty() && values.size() != out.features[0].size()) return false;
        out.features.push_back(values);
    }
    for (const auto& row : out.features) out.pointers.push_back(row.data());
    return true;
}

bool writeText(const std::string& path, const std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written;
}

std::string rowsText(const std::vector<std::vector<double>>& rows) {
    std::string text;
    char number[40];
    for (const auto& row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            std::snprintf(number, sizeof number, "%s%.17g", i == 0 ? "" : ",", row[i]);
            text += number;
        }
        text += '\n';
    }
    return text;
}

std::vector<std::vector<double>> asColumn(const std::vector<double>& values) {
    std::vector<std::vector<double>> rows;
    for (double v : values) rows.push_back({v});
    return rows;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 11) {
        std::fprintf(stderr,
                     "usage: %s TRAIN.csv TEST.csv OUTDIR p Rmax margin max_list_presentations "
                     "unknown_label nn_option oflag\n",
                     argv[0]);
        return 2;
    }
    LabelledRows train;
    LabelledRows test;
    if (!readCsv(argv[1], train) || !readCsv(argv[2], test)) {
        std::fprintf(stderr, "train_reference: cannot read %s or %s\n", argv[1], argv[2]);
        return 2;
    }
    const std::string outdir = argv[3];
    const int dimension = train.features.empty() ? 0 : static_cast<int>(train.features[0].size());

    sphnet::TrainingInput learnIn;
    learnIn.patternCount = static_cast<int>(train.features.size());
    learnIn.dimension = dimension;
    learnIn.patterns = train.pointers.data();
    learnIn.labels = train.labels.data();
    learnIn.normType = std::strtod(argv[4], nullptr);
    learnIn.rMax = std::strtod(argv[5], nullptr);
    learnIn.margin = std::strtod(argv[6], nullptr);
    learnIn.maxPresentations = std::atoi(argv[7]);
    learnIn.oflag = std::atoi(argv[10]);

    std::vector<std::vector<double>> nodes;
    std::vector<double> nodeLabels;
    int presentations = 0;
    std::string learnConsole;
    {
        standin::Scope scope;
        sphnet::TrainingOutput out;
        if (sphnet::learnPrototypes(learnIn, out) != sphnet::ProcedureStatus::Done) {
            std::fprintf(stderr, "train_reference: training failed\n");
            return 1;
        }
        for (int j = 0; j < out.nodeCount; ++j) {
            nodes.emplace_back(static_cast<std::size_t>(dimension) + 1);
            out.nodeRow(j, dimension + 1, nodes.back().data());
            nodeLabels.push_back(out.nodeLabels[j]);
        }
        presentations = out.presentations;
        learnConsole = scope.finish().console;
    }

    // In a host each module keeps its own counters from zero; here both procedures share one.
    sphnet::setRunningTotals({});
    std::vector<const double*> nodePointers;
    for (const auto& row : nodes) nodePointers.push_back(row.data());
    sphnet::RecallInput recallIn;
    recallIn.nodeCount = static_cast<int>(nodes.size());
    recallIn.dimension = dimension;
    recallIn.templates = nodePointers.data();
    recallIn.nodeLabels = nodeLabels.data();
    recallIn.normType = learnIn.normType;
    recallIn.patternCount = static_cast<int>(test.features.size());
    recallIn.patterns = test.pointers.data();
    recallIn.unknownLabel = std::atoi(argv[8]);
    recallIn.nnOption = std::atoi(argv[9]);
    recallIn.oflag = learnIn.oflag;

    std::vector<double> recalled;
    std::string recallConsole;
    {
        standin::Scope scope;
        sphnet::HostBlock<double> results;
        if (sphnet::classifyPatterns(recallIn, results) != sphnet::ProcedureStatus::Done) {
            std::fprintf(stderr, "train_reference: recall failed\n");
            return 1;
        }
        recalled.assign(results.get(), results.get() + recallIn.patternCount);
        recallConsole = scope.finish().console;
    }

    const bool written = writeText(outdir + "/nodes.csv", rowsText(nodes)) &&
                         writeText(outdir + "/node_labels.csv", rowsText(asColumn(nodeLabels))) &&
                         writeText(outdir + "/presentations.txt", std::to_string(presentations)) &&
                         writeText(outdir + "/recall.csv", rowsText(asColumn(recalled))) &&
                         writeText(outdir + "/learn_console.txt", learnConsole) &&
                         writeText(outdir + "/recall_console.txt", recallConsole);
    if (!written) {
        std::fprintf(stderr, "train_reference: cannot write into %s\n", outdir.c_str());
        return 1;
    }
    return 0;
}
