# The layers in include order: each may include itself and those before it, nothing later.
set(QUILLMARK_LAYERS core platform desktop net receiver server ui app)
