// Until the preview drawing exists: clearing the preview area has nothing to clear.
void clearpreview() {}
