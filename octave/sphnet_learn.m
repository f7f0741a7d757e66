% SPHNET_LEARN  (help text to come)
