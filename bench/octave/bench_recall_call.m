function [labels, fallback] = bench_recall_call(recall, nodes, node_labels, p, X)
% One recall call with nn_option 1 and its summary (oflag 1), from which the number of patterns
% labelled by the 1-NN rule is read.
  summary = evalc('labels = recall(nodes, node_labels, p, X, -1, 1, 1);');
  found = regexp(summary, 'Classified (\d+) patterns using 1-NN rule', 'tokens', 'once');
  fallback = 0;
  if !isempty(found)
    fallback = str2double(found{1});
  end
end
