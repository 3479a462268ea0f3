// The desk's logic lives here.
