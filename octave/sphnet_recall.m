% SPHNET_RECALL  (help text to come)
