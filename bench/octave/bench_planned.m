function varargout = bench_planned(kind, plan, varargin)
% sphnet_learn or sphnet_recall (KIND 'learn' or 'recall', same arguments and outputs as far as
% the benchmark uses them) through the engine module with a forced search PLAN text, so that one
% structure's time can be set beside another's on the same row. Recall returns the labels; only
% when the plan names the census does it ask for the per-pattern info (which runs the census)
% and print the 1-NN count line the benchmark reads (else the fallback share shows as 0).
  if strcmp(kind, 'learn')
    [X, y, p, rmax, margin, passes] = varargin{1:6};
    [classes, ~, index] = unique(y);
    [nodes, node_class, presentations] = sphnet_engine('train', X, index, p, rmax, margin, ...
        passes, 0, [], [], plan);
    varargout = {nodes, reshape(classes(node_class), [], 1), presentations};
  else
    [nodes, node_labels, p, X] = varargin{1:4};
    [classes, ~, index] = unique(node_labels);
    if isempty(strfind(plan, 'census'))
      class = sphnet_engine('recall', nodes, index, p, X, 1, plan);
    else
      [class, node, ~, cover_count] = sphnet_engine('recall', nodes, index, p, X, 1, plan);
      printf('Classified %d patterns using 1-NN rule\n', nnz(node > 0 & cover_count == 0));
    end
    labels = -ones(rows(X), 1);
    labels(class > 0) = classes(class(class > 0));
    varargout = {labels};
  end
end
