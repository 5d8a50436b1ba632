// placeholder: implemented in progress
